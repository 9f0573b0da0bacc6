#include <gtest/gtest.h>

#include "ftpctl/connection_list.h"

namespace quarno::ftpctl {
namespace {

using B = std::vector<uint8_t>;

std::tm At(int hour, int min, int sec) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 9;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_sec = sec;
  return t;
}

bool Apply(ConnectionList& list, const B& b) {
  return list.ParseUserControl(b.data(), b.size(), At(12, 30, 5));
}

B Connected(uint8_t id, const std::string& addr) {
  B b{1, 0, id, 0, 0, 0, 0, uint8_t(addr.size())};
  b.insert(b.end(), addr.begin(), addr.end());
  b.insert(b.end(), 4, 0);
  return b;
}

TEST(ConnectionTime, AmPmWithHourModulo12) {
  EXPECT_EQ(FormatConnectionTime(At(12, 30, 5)), "2026.12.09. PM 00:30:05");
  EXPECT_EQ(FormatConnectionTime(At(0, 1, 2)), "2026.12.09. AM 00:01:02");
  EXPECT_EQ(FormatConnectionTime(At(23, 59, 59)), "2026.12.09. PM 11:59:59");
}

TEST(ConnectionList, FullListWithEmptyName) {
  ConnectionList list;
  B b{0, 0, 1, 7, 0, 0, 0, 0, 9};
  std::string addr = "127.0.0.1";
  b.insert(b.end(), addr.begin(), addr.end());
  b.insert(b.end(), {0, 0, 0, 0, 0, 0, 0});  // 4 skipped, empty second text, 1 skipped
  ASSERT_TRUE(Apply(list, b));
  auto rows = list.Snapshot();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].id, 7u);
  EXPECT_EQ(rows[0].address, "127.0.0.1");
  EXPECT_EQ(rows[0].user_name, "(not logged in)");
  EXPECT_EQ(rows[0].time_text, "");
}

TEST(ConnectionList, LiveChanges) {
  ConnectionList list;
  ASSERT_TRUE(Apply(list, Connected(1, "10.9.8.7")));
  ASSERT_TRUE(Apply(list, Connected(2, "::1")));
  auto rows = list.Snapshot();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].time_text, "2026.12.09. PM 00:30:05");
  EXPECT_EQ(rows[0].user_name, "(not logged in)");

  ASSERT_TRUE(Apply(list, B{1, 1, 2, 0, 0, 0, 0, 3, 'b', 'o', 'b'}));
  EXPECT_EQ(list.Snapshot()[1].user_name, "bob");
  // Unknown id: still reported, list unchanged.
  EXPECT_TRUE(Apply(list, B{1, 1, 9, 0, 0, 0, 0, 1, 'x'}));
  EXPECT_EQ(list.size(), 2u);
  // Name longer than the payload: reported, nothing applied.
  EXPECT_TRUE(Apply(list, B{1, 1, 2, 0, 0, 0, 0, 9, 'x'}));
  EXPECT_EQ(list.Snapshot()[1].user_name, "bob");

  ASSERT_TRUE(Apply(list, B{1, 2, 1, 0, 0, 0}));
  rows = list.Snapshot();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].id, 2u);
  EXPECT_TRUE(Apply(list, B{1, 3, 2, 0, 0, 0}));  // kinds 3 and 4 ignored
  EXPECT_EQ(list.size(), 1u);
}

TEST(ConnectionList, ConnectedWithoutTrailingBytesIsNotKept) {
  ConnectionList list;
  B b = Connected(3, "1.2.3.4");
  b.resize(b.size() - 1);
  EXPECT_TRUE(Apply(list, b));
  EXPECT_EQ(list.size(), 0u);
}

TEST(ConnectionList, RejectedPayloads) {
  ConnectionList list;
  ASSERT_TRUE(Apply(list, Connected(1, "a")));
  EXPECT_FALSE(Apply(list, B{}));
  EXPECT_FALSE(Apply(list, B{0, 0}));
  EXPECT_FALSE(Apply(list, B{1, 5, 1, 0, 0, 0}));  // kind above 4
  EXPECT_FALSE(Apply(list, B{1, 0, 1, 0, 0}));     // shorter than 6
  EXPECT_FALSE(Apply(list, B{2}));
  EXPECT_FALSE(Apply(list, B{200}));
  // A truncated full list keeps the previous list.
  EXPECT_FALSE(Apply(list, B{0, 0, 2, 5, 0, 0, 0, 0, 1, 'z', 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.Snapshot()[0].address, "a");
}

}  // namespace
}  // namespace quarno::ftpctl
