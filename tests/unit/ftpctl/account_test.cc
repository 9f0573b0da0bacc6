#include <gtest/gtest.h>

#include <string>

#include "ftpctl/account.h"
#include "ftpctl/md5.h"

namespace quarno::ftpctl {
namespace {

std::string Md5Hex(const std::string& s) {
  MD5 md5;
  md5.update(s.data(), s.size());
  md5.finalize();
  return *md5.hex_digest();
}

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }
std::string Len16(const std::string& s) {
  return std::string{char(s.size() >> 8), char(s.size() & 0xFF)} + s;
}

TEST(Md5, Rfc1321Vectors) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890"
                   "1234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecewiseUpdatesAcrossBlockBoundaries) {
  std::string text(200, 'x');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = char('a' + i % 26);
  for (std::size_t cut : {1u, 55u, 56u, 63u, 64u, 65u, 128u}) {
    MD5 md5;
    md5.update(text.data(), cut);
    md5.update(text.data() + cut, text.size() - cut);
    md5.finalize();
    EXPECT_EQ(*md5.hex_digest(), Md5Hex(text)) << cut;
  }
}

TEST(Md5, MisuseWritesItsMessagesAndKeepsTheDigest) {
  MD5 md5;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(md5.hex_digest());
  md5.update("abc", 3);
  md5.finalize();
  md5.update("more", 4);
  md5.finalize();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "MD5::hex_digest:  Can't get digest if you haven't finalized the digest!\n"
            "MD5::update:  Can't update a finalized digest!\n"
            "MD5::finalize:  Already finalized this digest!\n");
  EXPECT_EQ(*md5.hex_digest(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(PasswordHash, EmptyKoreanAndInvalidText) {
  EXPECT_EQ(PasswordHash(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(PasswordHash("비밀번호"), "cd504c7c56a3821206c416fb5460f384");
  // Bytes that are not UTF-8 cannot be converted: hashed as the empty string.
  EXPECT_EQ(PasswordHash("\xff\xfe"), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(DirectoryPermission, RightsWordBits) {
  DirectoryPermission p;
  EXPECT_EQ(p.RightsWord(), 0);
  p.DirCreate = p.AutoCreate = true;
  EXPECT_EQ(p.RightsWord(), 0x0201);
  p = {};
  p.FileWrite = p.IsHome = true;
  EXPECT_EQ(p.RightsWord(), 0x0180);
}

TEST(SerializeAccounts, WorkedLayoutForUserFtp) {
  const std::string home = "/home/q/zelhome", share = "/home/q/zelhome/Photos";
  CUserSetting list;
  list.Append(BuildShareAccount("ftp", "secret", home, share));
  auto bytes = SerializeAccounts(list);
  ASSERT_TRUE(bytes);

  std::string expected("\x00\x00\x00\x01", 4);
  expected += std::string(2, '\0');             // group name
  expected += std::string(8, '\0');             // address limit, user limit
  expected += '\x04';                           // bypass 0, enabled 1
  expected += std::string(4, '\0');
  expected += std::string("\x00\x02", 2);       // two permissions
  expected += Len16(home) + std::string("\x00\x00\x01\x0C", 4);
  expected += Len16(share) + std::string("\x00\x00\x00\xFF", 4);
  expected += std::string(10, '\0');
  expected += std::string(2, '\0');             // comment
  expected += '\0';                             // tail flag
  expected += std::string("\x00\x03" "ftp", 5);
  expected += Len16("5ebe2294ecd0e0f08eab7690d2a6ee69");
  EXPECT_EQ(Bytes(*bytes), expected);
  EXPECT_EQ(bytes->size(), 4 + list.users()[0].GetRequiredBufferLen());
}

TEST(SerializeAccounts, EmptyPasswordKoreanNameAndUnconvertibleText) {
  CUserSetting list;
  t_user user = BuildShareAccount("사용자", "", "/h", "/h/s");
  user.comment = "\xff bad";  // not UTF-8: travels as an empty text
  list.Append(user);
  auto bytes = SerializeAccounts(list);
  ASSERT_TRUE(bytes);
  std::string s = Bytes(*bytes);
  EXPECT_EQ(s.size(), 4 + user.GetRequiredBufferLen());
  // Name counted in UTF-8 bytes (9), then an empty password.
  EXPECT_EQ(s.substr(s.size() - 13), std::string("\x00\x09", 2) + "사용자" + std::string(2, '\0'));
  EXPECT_TRUE(user.password.empty());
}

TEST(TGroup, OwnerFallbacksAndCopies) {
  t_group group;
  group.userLimit = 7;
  group.enabled = 0;
  group.bypassUserLimit = 1;
  group.rateKind[1] = 1;
  t_user user;
  EXPECT_EQ(user.GetUserLimit(), 0);
  user.owner = &group;
  user.enabled = 2;
  user.bypassUserLimit = 2;
  user.rateKind[1] = 5;
  EXPECT_EQ(user.GetUserLimit(), 7);
  EXPECT_FALSE(user.IsEnabled());
  EXPECT_TRUE(user.BypassUserLimit());
  EXPECT_EQ(user.RateKind(1), 1);
  EXPECT_EQ(user.RateKind(0), 0);

  user.permissions.push_back({"/d", {"alias"}});
  t_user copy = user;
  copy.permissions[0].aliases.clear();
  EXPECT_EQ(user.permissions[0].aliases.size(), 1u);
}

}  // namespace
}  // namespace quarno::ftpctl
