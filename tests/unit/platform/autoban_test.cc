#include "platform/autoban.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarno::platform {
namespace {

using namespace std::chrono_literals;

struct ManualClock final : Clock {
  std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
  void Sleep(std::chrono::milliseconds d) override { now += d; }
  std::chrono::steady_clock::time_point Now() override { return now; }
};

asio::ip::address A(const char* text) { return asio::ip::make_address(text); }

// One scripted run per policy: each step acts on an address and checks the answer.
TEST(Autoban, BansPacesAndForgets) {
  enum Op { kFail, kFailBans, kSucceed, kWait, kBanned, kFree, kPace, kPaceRefused };
  struct Step {
    Op op;
    const char* peer;
    long long value = 0;  // kFailBans: ban s; kWait: ms; kBanned: s left; kPace: ms
  };
  struct Case {
    const char* name;
    AutobanPolicy policy;
    std::vector<Step> steps;
  } cases[] = {
      {"ban after attempts, doubling, a /64 counts as one",
       {.attempts = 3, .window = 60s, .ban = 10s, .longest_ban = 25s},
       {{kFail, "2001:db8::1"}, {kFail, "2001:db8::2"}, {kFailBans, "2001:db8::ffff:3", 10},
        {kBanned, "2001:db8::9", 10}, {kFree, "2001:db8:0:1::1"}, {kFail, "2001:db8::1"},
        {kWait, "", 9500}, {kBanned, "2001:db8::1", 1}, {kWait, "", 500}, {kFree, "2001:db8::1"},
        {kFail, "2001:db8::1"}, {kFail, "2001:db8::1"}, {kFailBans, "2001:db8::1", 20},
        {kWait, "", 20000}, {kFail, "2001:db8::1"}, {kFail, "2001:db8::1"},
        {kFailBans, "2001:db8::1", 25}}},
      {"failures outside the window and before a success are forgotten",
       {.attempts = 2, .window = 10s},
       {{kFail, "10.0.0.1"}, {kWait, "", 10000}, {kFail, "10.0.0.1"}, {kFree, "10.0.0.1"},
        {kSucceed, "10.0.0.1"}, {kFail, "10.0.0.1"}, {kFree, "10.0.0.1"},
        {kFailBans, "::ffff:10.0.0.1", 900}, {kSucceed, "10.0.0.1"}, {kBanned, "10.0.0.1", 900}}},
      {"checks after failures share one slot; clean addresses never wait",
       {.attempts = 100, .paced_interval = 1000ms},
       {{kPace, "10.0.0.1", 0}, {kFail, "10.0.0.1"}, {kFail, "10.0.0.2"}, {kFail, "10.0.0.3"},
        {kPace, "10.0.0.1", 0}, {kPace, "10.0.0.2", 1000}, {kPaceRefused, "10.0.0.3"},
        {kPace, "10.0.0.9", 0}, {kWait, "", 400}, {kPace, "10.0.0.3", 1600},
        {kSucceed, "10.0.0.2"}, {kPace, "10.0.0.2", 0}}},
      {"switched off: nothing is counted",
       {.enabled = false, .attempts = 1},
       {{kFail, "10.0.0.1"}, {kFail, "10.0.0.1"}, {kFree, "10.0.0.1"}, {kPace, "10.0.0.1", 0}}},
  };
  for (const auto& c : cases) {
    ManualClock clock;
    Autoban ban(c.policy, &clock);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      SCOPED_TRACE(testing::Message() << c.name << ", step " << i);
      std::chrono::seconds length{};
      switch (s.op) {
        case kFail: EXPECT_FALSE(ban.RecordFailure(A(s.peer), &length)); break;
        case kFailBans:
          EXPECT_TRUE(ban.RecordFailure(A(s.peer), &length));
          EXPECT_EQ(length.count(), s.value);
          break;
        case kSucceed: ban.RecordSuccess(A(s.peer)); break;
        case kWait: clock.now += std::chrono::milliseconds(s.value); break;
        case kBanned: EXPECT_EQ(ban.BannedFor(A(s.peer)), std::chrono::seconds(s.value)); break;
        case kFree: EXPECT_EQ(ban.BannedFor(A(s.peer)), std::nullopt); break;
        case kPace:
          EXPECT_EQ(ban.PaceCheck(A(s.peer), 2000ms), std::chrono::milliseconds(s.value));
          break;
        case kPaceRefused: EXPECT_EQ(ban.PaceCheck(A(s.peer), 1500ms), std::nullopt); break;
      }
    }
  }
}

TEST(Autoban, MemoryStaysBoundedAndKeepsBans) {
  ManualClock clock;
  Autoban ban({.attempts = 2}, &clock);
  ban.RecordFailure(A("192.0.2.1"));
  ASSERT_TRUE(ban.RecordFailure(A("192.0.2.1")));
  for (std::size_t i = 0; i < Autoban::kMaxRemembered + 10; ++i) {
    auto peer = asio::ip::address_v4(static_cast<uint32_t>(0x0a000000 + i));
    clock.now += 1ms;
    ban.RecordFailure(peer);
  }
  EXPECT_EQ(ban.PaceCheck(A("10.0.0.0"), 0ms), std::chrono::milliseconds(0));  // forgotten
  auto newest = asio::ip::address_v4(0x0a000000 + Autoban::kMaxRemembered + 9);
  EXPECT_EQ(ban.PaceCheck(newest, 0ms), std::chrono::milliseconds(0));
  EXPECT_EQ(ban.PaceCheck(newest, 0ms), std::nullopt) << "remembered: the slot is taken";
  EXPECT_TRUE(ban.BannedFor(A("192.0.2.1")));  // the oldest, but banned: kept
}

}  // namespace
}  // namespace quarno::platform
