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
// An address as the tables hold it: 16 bytes, IPv4 as ::ffff:a.b.c.d.
using TcpAddress = std::array<uint8_t, 16>;
struct TcpEntry {
  uint16_t local_port = 0;
  TcpState state = TcpState::kClose;
  TcpAddress local_address{};
  TcpAddress remote_address{};
  uint16_t remote_port = 0;
  // The socket's owner; the kernel shows 0 for a connection that only
  // lingers after its close (TIME-WAIT and its kin), so only a live state
  // says whose it is. Missing when the row is cut off before the column.
  std::optional<uint32_t> uid;
  uint64_t inode = 0;  // 0 for sockets no process holds any more
};
// Rows of /proc/net/tcp or /proc/net/tcp6 text; malformed rows are skipped.
// The address words are read in this machine's byte order, as the kernel
// prints them.
std::vector<TcpEntry> ParseTcpTable(std::string_view proc_net_tcp);
// Both tables of this machine (an IPv6 listener holds the port too).
std::vector<TcpEntry> ReadTcpTable();

// Dotted IPv4 or IPv6 text as a table address; nullopt when it is neither.
std::optional<TcpAddress> ToTcpAddress(std::string_view text);
// The owner of the established socket whose own end is `peer` and whose
// other end is `ours` in `table`: for a connection this machine accepted on
// `ours`, the user of the process that connected. nullopt when there is no
// such established socket (gone, closing, or not local).
std::optional<uint32_t> FindTcpPeerOwner(const std::vector<TcpEntry>& table,
                                         std::string_view peer_address, uint16_t peer_port,
                                         std::string_view our_address, uint16_t our_port);
// The same over both tables of this machine's (this network namespace's) kernel.
std::optional<uint32_t> TcpPeerOwner(std::string_view peer_address, uint16_t peer_port,
                                     std::string_view our_address, uint16_t our_port);

// Whether the established socket whose own end is `peer` and whose other
// end is `ours` is held by this very process (a connection it made to itself).
bool TcpPeerIsThisProcess(std::string_view peer_address, uint16_t peer_port,
                          std::string_view our_address, uint16_t our_port);

// Whether a server could listen on `port` now on every address, as ours do
// (address reuse on). Linux refuses the port while a client's closed
// connection from it lingers in TIME-WAIT, though the table counts it free.
bool CanListenOn(uint16_t port);

// An adapter other than loopback is up and running with an address.
bool IsNetworkAlive();

}  // namespace quarno::platform
