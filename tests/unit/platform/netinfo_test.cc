#include "platform/netinfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace quarno::platform {
namespace {

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(QUARNO_SOURCE_DIR) + "/tests/fixtures/proc/" + name);
  std::ostringstream s;
  s << in.rdbuf();
  EXPECT_FALSE(s.str().empty()) << name;
  return s.str();
}

TEST(NetinfoParsers, DefaultRouteFromCapturedTable) {
  auto route = ParseDefaultRoute(Fixture("route"));
  ASSERT_TRUE(route);
  EXPECT_EQ(route->interface, "eth0");
  EXPECT_EQ(route->gateway, "192.0.2.1");
}

TEST(NetinfoParsers, DefaultRoutePicksLowestMetricUsableGateway) {
  // wlan0 metric 600 is listed first; eth1 has no gateway flag; the eth0
  // metric-10 row is not up; eth2 (metric 1) has a broken gateway field.
  auto route = ParseDefaultRoute(Fixture("route_multi"));
  ASSERT_TRUE(route);
  EXPECT_EQ(route->interface, "eth0");
  EXPECT_EQ(route->gateway, "10.0.0.254");
  EXPECT_FALSE(ParseDefaultRoute(""));
  EXPECT_FALSE(ParseDefaultRoute("Iface\tDestination\n"));
  EXPECT_FALSE(ParseDefaultRoute("header\neth0\t00000000\tZZ\t0003\t0\t0\t0\t00000000\n"));
}

TEST(NetinfoParsers, TcpTablesFromCapturedFiles) {
  auto v4 = ParseTcpTable(Fixture("tcp"));
  ASSERT_EQ(v4.size(), 5u);
  EXPECT_EQ(v4[0].local_port, 2024);
  EXPECT_EQ(v4[0].state, TcpState::kListen);
  EXPECT_EQ(v4[1].local_port, 40021);
  EXPECT_EQ(v4[2].state, TcpState::kEstablished);
  EXPECT_EQ(v4[4].local_port, 0xB06C);
  EXPECT_EQ(v4[4].state, TcpState::kTimeWait);

  auto v6 = ParseTcpTable(Fixture("tcp6"));
  ASSERT_EQ(v6.size(), 3u);
  EXPECT_EQ(v6[0].local_port, 40080);
  EXPECT_EQ(v6[0].state, TcpState::kListen);
  EXPECT_EQ(v6[2].local_port, 0x8390);
}

// The owner of a connection's client end: the row whose own end is the peer
// and whose other end is the listener, and only while it is established.
TEST(NetinfoParsers, TcpPeerOwnerFromBothTables) {
  auto v4 = ParseTcpTable(Fixture("tcp"));
  EXPECT_EQ(FindTcpPeerOwner(v4, "127.0.0.1", 0xB066, "127.0.0.1", 0x9C55), 0u);
  // TIME-WAIT shows uid 0 for every closed socket: never taken for root.
  EXPECT_EQ(FindTcpPeerOwner(v4, "127.0.0.1", 0xB06C, "127.0.0.1", 0x9C55), std::nullopt);
  EXPECT_EQ(FindTcpPeerOwner(v4, "127.0.0.2", 0xB066, "127.0.0.1", 0x9C55), std::nullopt);
  EXPECT_EQ(FindTcpPeerOwner(v4, "127.0.0.1", 0xB066, "127.0.0.1", 0x9C56), std::nullopt);
  EXPECT_EQ(FindTcpPeerOwner(v4, "not an address", 0xB066, "127.0.0.1", 0x9C55), std::nullopt);

  const std::string text =
      "  sl  local_address remote_address st tx_queue rx_queue tr tm->when retrnsmt uid\n"
      // ::ffff:127.0.0.1 port 40000 -> ::ffff:127.0.0.1 port 31000, uid 65534
      "   0: 0000000000000000FFFF00000100007F:9C40 0000000000000000FFFF00000100007F:7918 01 "
      "00000000:00000000 00:00000000 00000000 65534        0 5001 1 0 20 0 0 10 -1\n"
      // ::1 port 40001 -> ::1 port 31000, uid 1000
      "   1: 00000000000000000000000001000000:9C41 00000000000000000000000001000000:7918 01 "
      "00000000:00000000 00:00000000 00000000  1000        0 5002 1 0 20 0 0 10 -1\n"
      // cut off before the uid column
      "   2: 00000000000000000000000001000000:9C42 00000000000000000000000001000000:7918 01\n";
  auto v6 = ParseTcpTable(text);
  ASSERT_EQ(v6.size(), 3u);
  // A client's IPv6 socket reaching an IPv4 listener shows the mapped form.
  EXPECT_EQ(FindTcpPeerOwner(v6, "127.0.0.1", 40000, "127.0.0.1", 31000), 65534u);
  EXPECT_EQ(FindTcpPeerOwner(v6, "::ffff:127.0.0.1", 40000, "127.0.0.1", 31000), 65534u);
  EXPECT_EQ(FindTcpPeerOwner(v6, "::1", 40001, "::1", 31000), 1000u);
  EXPECT_EQ(FindTcpPeerOwner(v6, "::1", 40002, "::1", 31000), std::nullopt);
}

TEST(NetinfoParsers, TcpTableSkipsMalformedRows) {
  const std::string text =
      "  sl  local_address rem_address   st\n"
      "   0: 0100007F:0050 00000000:0000 0A\n"
      "   1: 0100007F 00000000:0000 0A\n"        // no port
      "   2: 0100007F:1FFFF 00000000:0000 0A\n"  // port too large
      "   3: 0100007F:0051 00000000:0000 0C\n"   // unknown state
      "   4: 0100007F:0052 00000000:0000\n"      // cut off
      "   5 0100007F:0053 00000000:0000 01\n"    // no row colon
      "   6: 0100007F:0054 00000000:0000 01";    // last line without newline is fine here
  auto rows = ParseTcpTable(text);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].local_port, 80);
  EXPECT_EQ(rows[1].local_port, 84);
  EXPECT_TRUE(ParseTcpTable("").empty());
}

TEST(NetinfoParsers, NeighbourMacOnlyWhenComplete) {
  auto mac = ParseNeighbourMac(Fixture("arp"), "192.0.2.1");
  ASSERT_TRUE(mac);
  EXPECT_EQ(*mac, (MacAddress{0x02, 0xfc, 0x00, 0x00, 0x00, 0x05}));
  const std::string table =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "10.0.0.1         0x1         0x0         00:00:00:00:00:00     *        eth0\n"
      "10.0.0.2         0x1         0x2         00:00:00:00:00:00     *        eth0\n"
      "10.0.0.3         0x1         0x6         aa:bb:cc:dd:ee:0f     *        eth0\n"
      "10.0.0.33        0x1         0x2         11:22:33:44:55:66     *        eth0\n"
      "10.0.0.4         0x1         0x2         aa:bb:cc:dd:ee        *        eth0\n";
  EXPECT_FALSE(ParseNeighbourMac(table, "10.0.0.1"));  // incomplete
  EXPECT_FALSE(ParseNeighbourMac(table, "10.0.0.2"));  // all-zero
  EXPECT_FALSE(ParseNeighbourMac(table, "10.0.0.4"));  // short
  EXPECT_FALSE(ParseNeighbourMac(table, "10.0.0"));
  auto permanent = ParseNeighbourMac(table, "10.0.0.3");
  ASSERT_TRUE(permanent);
  EXPECT_EQ((*permanent)[5], 0x0f);
}

}  // namespace
}  // namespace quarno::platform
