#pragma once
// Facts about this machine's network, read from /proc and the kernel. Parsers
// take the file text so tests feed them captured fixtures.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarno::platform {

using MacAddress = std::array<uint8_t, 6>;

struct DefaultRoute {
  std::string interface;
  std::string gateway;  // dotted IPv4
};
// First default route (destination 0, mask 0, flags UP|GATEWAY) of
// /proc/net/route text, lowest metric first.
std::optional<DefaultRoute> ParseDefaultRoute(std::string_view proc_net_route);
std::optional<DefaultRoute> ReadDefaultRoute();

struct Adapter {
  std::string name;
  std::string address;  // first IPv4 address, dotted; empty when none
  std::string gateway;  // gateway of this adapter's default route; empty when none
  bool up = false;       // IFF_UP and IFF_RUNNING
  bool loopback = false;
};
// Adapters in kernel order (getifaddrs) with their default-route gateway.
std::vector<Adapter> ListAdapters();

// Prefix length of the network of the local interface address `address`
// (IPv4 dotted or IPv6 text); nothing when no interface holds it.
std::optional<int> LocalPrefixLength(const std::string& address);

// MAC of `ipv4` from /proc/net/arp text (flags must say complete).
std::optional<MacAddress> ParseNeighbourMac(std::string_view proc_net_arp, std::string_view ipv4);
// Provokes resolution (a UDP datagram to the discard port of `ipv4`, which
// only ever goes to that address) and polls the neighbour table up to `timeout_ms`.
std::optional<MacAddress> ResolveNeighbourMac(const std::string& ipv4, int timeout_ms = 3000);

enum class TcpState : int {
  kEstablished = 1, kSynSent = 2, kSynRecv = 3, kFinWait1 = 4, kFinWait2 = 5,
  kTimeWait = 6, kClose = 7, kCloseWait = 8, kLastAck = 9, kListen = 10, kClosing = 11,
};
struct TcpEntry {
  uint16_t local_port = 0;
  TcpState state = TcpState::kClose;
};
// Rows of /proc/net/tcp or /proc/net/tcp6 text; malformed rows are skipped.
std::vector<TcpEntry> ParseTcpTable(std::string_view proc_net_tcp);
// Both tables of this machine (an IPv6 listener holds the port too).
std::vector<TcpEntry> ReadTcpTable();

// An adapter other than loopback is up and running with an address.
bool IsNetworkAlive();

}  // namespace quarno::platform
