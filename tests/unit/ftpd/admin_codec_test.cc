#include "ftpd/admin_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quarno::ftpd {
namespace {

Bytes B(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<uint8_t>(x));
  return out;
}
void Append(Bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }
void Text(Bytes& out, std::string_view s) {
  out.push_back(static_cast<uint8_t>(s.size() >> 8));
  out.push_back(static_cast<uint8_t>(s.size()));
  Append(out, s);
}

// The account message of the one account this system sends, byte by byte.
Bytes WorkedAccount(const std::string& home, const std::string& share, const std::string& hash) {
  Bytes m = B({0, 0, 0, 1});
  Text(m, "");
  Bytes fixed = B({0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0, 0, 0, 0, 0, 2});
  m.insert(m.end(), fixed.begin(), fixed.end());
  Text(m, home);
  for (int b : {0, 0, 0x01, 0x0C}) m.push_back(static_cast<uint8_t>(b));
  Text(m, share);
  for (int b : {0, 0, 0x00, 0xFF}) m.push_back(static_cast<uint8_t>(b));
  m.insert(m.end(), 10, 0);
  Text(m, "");
  m.push_back(0);
  Text(m, "ftp");
  Text(m, hash);
  return m;
}

TEST(AdminCodec, GreetingAndFrames) {
  EXPECT_EQ(Greeting(), B({'F', 'Z', 'S', 0, 4, 0x00, 0x41, 0x09, 0x00, 0, 4, 0x00, 0x0D, 0x01, 0x00}));
  EXPECT_EQ(Frame(AdminType::kReply, 2, B({0, 0x11})), B({0x09, 2, 0, 0, 0, 0, 0x11}));
  EXPECT_EQ(Frame(AdminType::kStatus, 3, {}), B({0x0E, 0, 0, 0, 0}));

  // Commands the client sends, split and joined arbitrarily.
  Bytes buf = B({0x08, 0, 0, 0});
  AdminMessage m;
  EXPECT_EQ(TakeClientMessage(buf, m), FrameResult::kNeedMore);
  for (int b : {0, 0x0C, 1, 0, 0, 0, 0}) buf.push_back(static_cast<uint8_t>(b));
  ASSERT_EQ(TakeClientMessage(buf, m), FrameResult::kMessage);
  EXPECT_EQ(m.id, 2);
  EXPECT_TRUE(m.payload.empty());
  ASSERT_EQ(TakeClientMessage(buf, m), FrameResult::kMessage);
  EXPECT_EQ(m.id, 3);
  EXPECT_EQ(m.payload, B({0}));
  EXPECT_TRUE(buf.empty());

  Bytes reply_type = B({0x09, 0, 0, 0, 0});
  EXPECT_EQ(TakeClientMessage(reply_type, m), FrameResult::kMalformed);
  Bytes huge = B({0x08, 0, 0, 0, 1});
  EXPECT_EQ(TakeClientMessage(huge, m), FrameResult::kMalformed);
}

TEST(AdminCodec, AccountMessageOfTheWorkedLayout) {
  std::string hash = Md5Hex("P");
  ASSERT_EQ(hash.size(), 32u);
  Bytes m = WorkedAccount("/home/zelhome", "/home/zelhome/DISK_E", hash);
  std::vector<Account> users;
  ASSERT_TRUE(ParseAccountMessage(m.data(), m.size(), users));
  ASSERT_EQ(users.size(), 1u);
  const Account& a = users[0];
  EXPECT_EQ(a.user_name, "ftp");
  EXPECT_EQ(a.password, hash);
  EXPECT_EQ(a.enabled, 1);
  ASSERT_EQ(a.permissions.size(), 2u);
  EXPECT_EQ(a.permissions[0].directory, "/home/zelhome");
  EXPECT_EQ(a.permissions[0].rights, kDirList | kDirSubdirs | kIsHome);
  EXPECT_EQ(a.permissions[1].rights, 0xFF);
  EXPECT_TRUE(PasswordMatches(a, "P"));
  EXPECT_FALSE(PasswordMatches(a, "p"));
  // Serializing gives the same bytes back.
  EXPECT_EQ(SerializeAccountMessage(users), m);

  // Every truncation and any trailing byte is refused, leaving `users` alone.
  for (size_t n = 0; n < m.size(); ++n) EXPECT_FALSE(ParseAccountMessage(m.data(), n, users)) << n;
  Bytes longer = m;
  longer.push_back(0);
  EXPECT_FALSE(ParseAccountMessage(longer.data(), longer.size(), users));
  EXPECT_EQ(users.size(), 1u);
}

TEST(AdminCodec, AccountPasswordsAndKoreanNames) {
  Bytes m = WorkedAccount("/h", "/h/사진", "");
  std::vector<Account> users;
  ASSERT_TRUE(ParseAccountMessage(m.data(), m.size(), users));
  EXPECT_EQ(users[0].permissions[1].directory, "/h/사진");
  EXPECT_TRUE(PasswordMatches(users[0], ""));  // empty text: only the empty password
  EXPECT_FALSE(PasswordMatches(users[0], "x"));
  Account file_form;
  file_form.password = Md5Hex("");  // the configuration file's form of the same
  EXPECT_EQ(file_form.password, "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_TRUE(PasswordMatches(file_form, ""));
  file_form.password = "D41D8CD98F00B204E9800998ECF8427E";
  EXPECT_TRUE(PasswordMatches(file_form, ""));
}

TEST(AdminCodec, OptionSet) {
  GeneralOptions empty;
  Bytes bytes = SerializeOptions(empty);
  EXPECT_EQ(bytes.size(), 479u);  // 2 + 17 x 4 + 45 x 9 + 4
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 62);

  GeneralOptions o;
  o.SetText(kOptServerports, "2121");
  o.SetNumber(kOptTimeout, 300);
  o.SetText(kOptWelcome, "Ralmek_FTPD && Host-AB1222 12ABCD");
  o.SetNumber(kOptAdminPort, 31000);
  o.SetNumber(kOptionCount, -1);
  Bytes wire = SerializeOptions(o);
  GeneralOptions back;
  ASSERT_TRUE(ParseOptions(wire.data(), wire.size(), back));
  EXPECT_EQ(back.Text(kOptServerports), "2121");
  EXPECT_EQ(back.Number(kOptTimeout), 300);
  EXPECT_EQ(back.Text(kOptWelcome), "Ralmek_FTPD && Host-AB1222 12ABCD");
  EXPECT_EQ(back.Number(kOptAdminPort), 31000);
  EXPECT_EQ(back.Number(kOptionCount), -1);
  // Option 1 starts right after the count: type 0, 3-byte length 4, "2121".
  EXPECT_EQ(Bytes(wire.begin() + 2, wire.begin() + 10), B({0, 0, 0, 4, '2', '1', '2', '1'}));

  // The 4 trailing bytes may be missing; a wrong count, a wrong type byte or a cut are refused.
  EXPECT_TRUE(ParseOptions(wire.data(), wire.size() - 4, back));
  Bytes bad_count = wire;
  bad_count[1] = 61;
  EXPECT_FALSE(ParseOptions(bad_count.data(), bad_count.size(), back));
  Bytes bad_type = wire;
  bad_type[2] = 1;
  EXPECT_FALSE(ParseOptions(bad_type.data(), bad_type.size(), back));
  EXPECT_FALSE(ParseOptions(wire.data(), wire.size() - 5, back));
  EXPECT_EQ(back.Text(kOptServerports), "2121");
}

TEST(AdminCodec, ConnectionLists) {
  EXPECT_EQ(ConnectionAdded(7, "1.2.3.4", 0x0102),
            B({1, 0, 7, 0, 0, 0, 0, 7, '1', '.', '2', '.', '3', '.', '4', 2, 1, 0, 0}));
  EXPECT_EQ(ConnectionUserChanged(7, "ftp"), B({1, 1, 7, 0, 0, 0, 0, 3, 'f', 't', 'p'}));
  EXPECT_EQ(ConnectionRemoved(0x01020304), B({1, 2, 4, 3, 2, 1}));
  Bytes full = FullConnectionList({{5, "10.0.0.1", 80, "2024.01.02. AM 03:04:05"}});
  Bytes expect = B({0, 0, 1, 5, 0, 0, 0});
  Text(expect, "10.0.0.1");
  for (int b : {80, 0, 0, 0}) expect.push_back(static_cast<uint8_t>(b));
  Text(expect, "2024.01.02. AM 03:04:05");
  expect.push_back(0);
  EXPECT_EQ(full, expect);
}

TEST(AdminCodec, ConnectionTimeTextUsesTwelveHourClock) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(ConnectionTimeText(1704198630), "2024.01.02. PM 00:30:30");  // 12:30:30 UTC
  EXPECT_EQ(ConnectionTimeText(1704155430), "2024.01.02. AM 00:30:30");
  EXPECT_EQ(ConnectionTimeText(1704239999), "2024.01.02. PM 11:59:59");
}

}  // namespace
}  // namespace quarno::ftpd
