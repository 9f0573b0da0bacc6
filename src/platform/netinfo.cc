#include "platform/netinfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace quarno::platform {
namespace {

constexpr unsigned kRouteUp = 0x1;       // RTF_UP
constexpr unsigned kRouteGateway = 0x2;  // RTF_GATEWAY
constexpr unsigned kArpComplete = 0x2;   // ATF_COM

std::string ReadProcFile(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    auto end = text.find('\n');
    out.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

bool ParseHex(std::string_view s, uint32_t& value) {
  if (s.empty() || s.size() > 8) return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
  return ec == std::errc() && ptr == s.data() + s.size();
}

bool ParseDec(std::string_view s, uint32_t& value) {
  if (s.empty()) return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
  return ec == std::errc() && ptr == s.data() + s.size();
}

// /proc/net/route prints the address word as it sits in memory (network byte
// order read as a host integer).
std::string RouteAddress(uint32_t raw) {
  in_addr addr{};
  addr.s_addr = raw;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr, text, sizeof text);
  return text;
}

struct RouteRow {
  std::string interface;
  std::string gateway;
  uint32_t metric;
};

std::vector<RouteRow> DefaultRoutes(std::string_view text) {
  std::vector<RouteRow> rows;
  bool header = true;
  for (auto line : Lines(text)) {
    if (header) {  // "Iface Destination Gateway Flags ..."
      header = false;
      continue;
    }
    auto f = Fields(line);
    if (f.size() < 8) continue;
    uint32_t dest, gateway, flags, metric, mask;
    if (!ParseHex(f[1], dest) || !ParseHex(f[2], gateway) || !ParseHex(f[3], flags) ||
        !ParseDec(f[6], metric) || !ParseHex(f[7], mask))
      continue;
    if (dest != 0 || mask != 0 ||
        (flags & (kRouteUp | kRouteGateway)) != (kRouteUp | kRouteGateway))
      continue;
    rows.push_back({std::string(f[0]), RouteAddress(gateway), metric});
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const RouteRow& a, const RouteRow& b) { return a.metric < b.metric; });
  return rows;
}

// "0100007F:0050" (IPv4) or 32 hex digits and a port (IPv6): each 32-bit
// word is the address's memory as a host integer.
bool ParseEndpoint(std::string_view text, TcpAddress& address, uint16_t& port) {
  auto colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  uint32_t value;
  if (!ParseHex(text.substr(colon + 1), value) || value > 0xFFFF) return false;
  std::string_view hex = text.substr(0, colon);
  TcpAddress out{};
  if (hex.size() == 8) {
    uint32_t word;
    if (!ParseHex(hex, word)) return false;
    out[10] = out[11] = 0xFF;
    std::memcpy(out.data() + 12, &word, 4);
  } else if (hex.size() == 32) {
    for (size_t i = 0; i < 4; ++i) {
      uint32_t word;
      if (!ParseHex(hex.substr(i * 8, 8), word)) return false;
      std::memcpy(out.data() + i * 4, &word, 4);
    }
  } else {
    return false;
  }
  address = out;
  port = static_cast<uint16_t>(value);
  return true;
}

bool ParseMac(std::string_view text, MacAddress& mac) {
  if (text.size() != 17) return false;
  for (size_t i = 0; i < 6; ++i) {
    if (i > 0 && text[i * 3 - 1] != ':') return false;
    uint32_t byte;
    if (!ParseHex(text.substr(i * 3, 2), byte)) return false;
    mac[i] = static_cast<uint8_t>(byte);
  }
  return mac != MacAddress{};
}

}  // namespace

std::optional<DefaultRoute> ParseDefaultRoute(std::string_view proc_net_route) {
  auto rows = DefaultRoutes(proc_net_route);
  if (rows.empty()) return std::nullopt;
  return DefaultRoute{rows.front().interface, rows.front().gateway};
}

std::optional<DefaultRoute> ReadDefaultRoute() {
  return ParseDefaultRoute(ReadProcFile("/proc/net/route"));
}

std::vector<Adapter> ListAdapters() {
  std::vector<Adapter> adapters;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return adapters;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_name) continue;
    auto it = std::find_if(adapters.begin(), adapters.end(),
                           [&](const Adapter& x) { return x.name == a->ifa_name; });
    if (it == adapters.end()) {
      Adapter adapter;
      adapter.name = a->ifa_name;
      adapters.push_back(adapter);
      it = adapters.end() - 1;
    }
    it->up = (a->ifa_flags & IFF_UP) && (a->ifa_flags & IFF_RUNNING);
    it->loopback = a->ifa_flags & IFF_LOOPBACK;
    if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && it->address.empty()) {
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
      it->address = text;
    }
  }
  freeifaddrs(list);
  for (const auto& route : DefaultRoutes(ReadProcFile("/proc/net/route"))) {
    for (auto& adapter : adapters) {
      if (adapter.name == route.interface && adapter.gateway.empty())
        adapter.gateway = route.gateway;
    }
  }
  return adapters;
}

std::optional<int> LocalPrefixLength(const std::string& address) {
  in6_addr want6{};
  in_addr want4{};
  bool v4 = inet_pton(AF_INET, address.c_str(), &want4) == 1;
  if (!v4 && inet_pton(AF_INET6, address.c_str(), &want6) != 1) return std::nullopt;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  std::optional<int> prefix;
  for (ifaddrs* a = list; a && !prefix; a = a->ifa_next) {
    if (!a->ifa_addr || !a->ifa_netmask) continue;
    const uint8_t* mask = nullptr;
    size_t len = 0;
    if (v4 && a->ifa_addr->sa_family == AF_INET &&
        reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == want4.s_addr) {
      mask = reinterpret_cast<const uint8_t*>(&reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr);
      len = 4;
    } else if (!v4 && a->ifa_addr->sa_family == AF_INET6 &&
               std::memcmp(&reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr, &want6, 16) == 0) {
      mask = reinterpret_cast<const uint8_t*>(&reinterpret_cast<sockaddr_in6*>(a->ifa_netmask)->sin6_addr);
      len = 16;
    }
    if (mask == nullptr) continue;
    int bits = 0;
    for (size_t i = 0; i < len; ++i) bits += __builtin_popcount(mask[i]);
    prefix = bits;
  }
  freeifaddrs(list);
  return prefix;
}

std::optional<MacAddress> ParseNeighbourMac(std::string_view proc_net_arp, std::string_view ipv4) {
  bool header = true;
  for (auto line : Lines(proc_net_arp)) {
    if (header) {
      header = false;
      continue;
    }
    auto f = Fields(line);
    if (f.size() < 4 || f[0] != ipv4) continue;
    uint32_t flags;
    MacAddress mac{};
    if (!ParseHex(f[2].substr(f[2].starts_with("0x") ? 2 : 0), flags) || !(flags & kArpComplete))
      continue;
    if (ParseMac(f[3], mac)) return mac;
  }
  return std::nullopt;
}

std::optional<MacAddress> ResolveNeighbourMac(const std::string& ipv4, int timeout_ms) {
  in_addr addr{};
  if (inet_pton(AF_INET, ipv4.c_str(), &addr) != 1) return std::nullopt;
  if (auto mac = ParseNeighbourMac(ReadProcFile("/proc/net/arp"), ipv4)) return mac;
  // Any datagram to the address makes the kernel resolve it; port 9 discards.
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(9);
    peer.sin_addr = addr;
    sendto(fd, "", 0, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    close(fd);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (auto mac = ParseNeighbourMac(ReadProcFile("/proc/net/arp"), ipv4)) return mac;
  }
  return std::nullopt;
}

std::vector<TcpEntry> ParseTcpTable(std::string_view proc_net_tcp) {
  std::vector<TcpEntry> entries;
  bool header = true;
  for (auto line : Lines(proc_net_tcp)) {
    if (header) {
      header = false;
      continue;
    }
    auto f = Fields(line);
    if (f.size() < 4 || f[0].empty() || f[0].back() != ':') continue;
    TcpEntry entry;
    uint32_t state;
    if (!ParseEndpoint(f[1], entry.local_address, entry.local_port)) continue;
    if (!ParseHex(f[3], state) || state < 1 || state > 11) continue;
    entry.state = static_cast<TcpState>(state);
    // A remote end that cannot be read leaves the row useful for its port.
    if (!ParseEndpoint(f[2], entry.remote_address, entry.remote_port)) {
      entry.remote_address = {};
      entry.remote_port = 0;
    }
    if (uint32_t uid; f.size() >= 8 && ParseDec(f[7], uid)) entry.uid = uid;
    if (f.size() >= 10) std::from_chars(f[9].data(), f[9].data() + f[9].size(), entry.inode);
    entries.push_back(entry);
  }
  return entries;
}

std::optional<TcpAddress> ToTcpAddress(std::string_view text) {
  std::string s(text);
  TcpAddress address{};
  in_addr v4{};
  if (inet_pton(AF_INET, s.c_str(), &v4) == 1) {
    address[10] = address[11] = 0xFF;
    std::memcpy(address.data() + 12, &v4, 4);
    return address;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, s.c_str(), &v6) == 1) {
    std::memcpy(address.data(), &v6, 16);
    return address;
  }
  return std::nullopt;
}

std::optional<uint32_t> FindTcpPeerOwner(const std::vector<TcpEntry>& table,
                                         std::string_view peer_address, uint16_t peer_port,
                                         std::string_view our_address, uint16_t our_port) {
  auto peer = ToTcpAddress(peer_address), ours = ToTcpAddress(our_address);
  if (!peer || !ours) return std::nullopt;
  for (const TcpEntry& e : table) {
    if (e.local_port != peer_port || e.remote_port != our_port || e.local_address != *peer ||
        e.remote_address != *ours)
      continue;
    // Closing sockets may already be the kernel's ownerless leftovers (uid 0).
    if (e.state != TcpState::kEstablished || !e.uid) return std::nullopt;
    return e.uid;
  }
  return std::nullopt;
}

std::optional<uint32_t> TcpPeerOwner(std::string_view peer_address, uint16_t peer_port,
                                     std::string_view our_address, uint16_t our_port) {
  return FindTcpPeerOwner(ReadTcpTable(), peer_address, peer_port, our_address, our_port);
}

bool TcpPeerIsThisProcess(std::string_view peer_address, uint16_t peer_port,
                          std::string_view our_address, uint16_t our_port) {
  auto peer = ToTcpAddress(peer_address), ours = ToTcpAddress(our_address);
  if (!peer || !ours) return false;
  uint64_t inode = 0;
  for (const TcpEntry& e : ReadTcpTable())
    if (e.local_port == peer_port && e.remote_port == our_port && e.local_address == *peer &&
        e.remote_address == *ours)
      inode = e.inode;
  if (inode == 0) return false;
  const std::string wanted = "socket:[" + std::to_string(inode) + "]";
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code link_error;
    if (std::filesystem::read_symlink(fd.path(), link_error).string() == wanted) return true;
  }
  return false;
}

std::vector<TcpEntry> ReadTcpTable() {
  auto entries = ParseTcpTable(ReadProcFile("/proc/net/tcp"));
  auto v6 = ParseTcpTable(ReadProcFile("/proc/net/tcp6"));
  entries.insert(entries.end(), v6.begin(), v6.end());
  return entries;
}

bool CanListenOn(uint16_t port) {
  const int one = 1, zero = 0;
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool bound = false;
  if (fd >= 0) {
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_port = htons(port);
    any.sin6_addr = in6addr_any;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    bound = ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
  } else {
    // No IPv6 on this machine: the servers listen on IPv4 alone.
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // cannot tell: the table's answer stands
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    bound = ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
  }
  ::close(fd);
  return bound;
}

bool IsNetworkAlive() {
  for (const auto& adapter : ListAdapters()) {
    if (adapter.up && !adapter.loopback && !adapter.address.empty()) return true;
  }
  return false;
}

}  // namespace quarno::platform
