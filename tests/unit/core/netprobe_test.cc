#include "core/netprobe.h"

#include <gtest/gtest.h>

namespace quarno {
namespace {

TEST(PickFreePortFrom, StartsAtLowPlusRandomModSpanMinus1000AndWalksUp) {
  // Admin port range: start in 30000..33999.
  EXPECT_EQ(PickFreePortFrom({}, 30000, 35000, 0, 0), 30000);
  EXPECT_EQ(PickFreePortFrom({}, 30000, 35000, 0, 3999), 33999);
  EXPECT_EQ(PickFreePortFrom({}, 30000, 35000, 0, 4000), 30000);
  EXPECT_EQ(PickFreePortFrom({}, 30000, 35000, 0, 32767), 30000 + 32767 % 4000);
  EXPECT_EQ(PickFreePortFrom({30010, 30011, 30013}, 30000, 35000, 30012, 10), 30014);
  EXPECT_EQ(PickFreePortFrom({30010}, 30000, 35000, 0, 10, [](uint16_t p) { return p != 30011; }),
            30012);
}

TEST(PickFreePortFrom, ZeroWhenEverythingFromStartToHighIsTaken) {
  std::vector<uint16_t> taken;
  for (uint32_t p = 2000; p < 3001; ++p) taken.push_back(static_cast<uint16_t>(p));
  // Start 1500 + 500 % 501 = 2000; the free ports 1500..1999 below it do not count.
  EXPECT_EQ(PickFreePortFrom(taken, 1500, 3001, 0, 500), 0);
  EXPECT_EQ(PickFreePortFrom(taken, 1500, 3001, 0, 499), 1999);
  EXPECT_EQ(PickFreePortFrom({}, 1500, 3001, 2000, 500), 2001);
}

TEST(PickFreePortFrom, SmallOrEmptyRangesNeverCrash) {
  EXPECT_EQ(PickFreePortFrom({}, 5000, 5000, 0, 7), 0);
  EXPECT_EQ(PickFreePortFrom({}, 5000, 4000, 0, 7), 0);
  EXPECT_EQ(PickFreePortFrom({}, 5000, 6000, 0, 7), 5007);  // exactly 1000 wide
  EXPECT_EQ(PickFreePortFrom({}, 5000, 5010, 0, 23), 5003);
  EXPECT_EQ(PickFreePortFrom({}, 65000, 65535, 0, 600), 65065);
  EXPECT_EQ(PickFreePortFrom({}, 0, 1, 0, 0), 0);  // port 0 is never an answer
}

TEST(FormatMac, FullAndTail) {
  platform::MacAddress mac{0x00, 0x1a, 0x2b, 0xc3, 0x0d, 0xef};
  EXPECT_EQ(FormatMac(mac), "00:1A:2B:C3:0D:EF");
  EXPECT_EQ(FormatMacTail(mac), "C30DEF");
}

TEST(RawHttpExchange, RefusesWithoutTouchingTheNetwork) {
  std::string response = "untouched";
  EXPECT_EQ(RawHttpExchange("router.local", "GET / HTTP/1.0\r\n\r\n", response), -1);
  EXPECT_EQ(RawHttpExchange("", "GET / HTTP/1.0\r\n\r\n", response), -1);
  EXPECT_EQ(RawHttpExchange("127.0.0.1", std::string(513, 'x'), response), -1);
  EXPECT_EQ(response, "untouched");
  RawHttpOptions defaults;
  EXPECT_EQ(defaults.port, 80);
  EXPECT_EQ(defaults.connect_timeout.count(), 10000);
  EXPECT_EQ(defaults.receive_timeout.count(), 15000);
}

}  // namespace
}  // namespace quarno
