#include "core/netprobe.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "platform/tcp_socket.h"

namespace quarno {
namespace {

std::mutex g_mac_mutex;
platform::MacAddress g_last_mac{};

constexpr size_t kChunk = 512;

}  // namespace

bool FindGateway(GatewayInfo& info) {
  auto route = platform::ReadDefaultRoute();
  if (!route) return false;
  info.gateway = route->gateway;
  for (const auto& adapter : platform::ListAdapters()) {
    if (adapter.gateway == route->gateway) {
      if (!adapter.address.empty()) info.local_address = adapter.address;
      break;
    }
  }
  auto mac = platform::ResolveNeighbourMac(route->gateway);
  if (!mac) return false;
  info.mac = *mac;
  std::lock_guard lock(g_mac_mutex);
  g_last_mac = *mac;
  return true;
}

platform::MacAddress LastGatewayMac() {
  std::lock_guard lock(g_mac_mutex);
  return g_last_mac;
}

std::string FormatMac(const platform::MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

std::string FormatMacTail(const platform::MacAddress& mac) {
  char text[7];
  std::snprintf(text, sizeof text, "%02X%02X%02X", mac[3], mac[4], mac[5]);
  return text;
}

std::vector<uint16_t> GetPortList() {
  std::vector<uint16_t> ports;
  for (const auto& entry : platform::ReadTcpTable()) {
    switch (entry.state) {
      case platform::TcpState::kListen:
      case platform::TcpState::kSynSent:
      case platform::TcpState::kSynRecv:
      case platform::TcpState::kEstablished:
        ports.push_back(entry.local_port);
        break;
      default:
        break;  // time-wait, close-wait and the rest leave the port free
    }
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

bool IsPortFree(uint16_t port) {
  auto ports = GetPortList();
  return !std::binary_search(ports.begin(), ports.end(), port);
}

uint16_t PickFreePortFrom(const std::vector<uint16_t>& taken_sorted, uint16_t low, uint16_t high,
                          uint16_t excluded, uint32_t random,
                          const std::function<bool(uint16_t)>& listenable) {
  if (high <= low) return 0;
  // The start lies at least 1000 below `high`; a range of 1000 ports or fewer
  // starts anywhere in it instead of dividing by zero or wrapping.
  uint32_t span = static_cast<uint32_t>(high) - low;
  uint32_t modulus = span > 1000 ? span - 1000 : span;
  for (uint32_t p = low + random % modulus; p < high; ++p) {
    if (p != 0 && p != excluded &&
        !std::binary_search(taken_sorted.begin(), taken_sorted.end(), p) &&
        (!listenable || listenable(static_cast<uint16_t>(p))))
      return static_cast<uint16_t>(p);
  }
  return 0;
}

uint16_t PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) {
  static std::mt19937 generator{std::random_device{}()};
  static std::mutex generator_mutex;
  uint32_t r;
  {
    std::lock_guard lock(generator_mutex);
    r = std::uniform_int_distribution<uint32_t>(0, 32767)(generator);
  }
  return PickFreePortFrom(GetPortList(), low, high, excluded, r, platform::CanListenOn);
}

int RawHttpExchange(const std::string& address, const std::string& request, std::string& response,
                    const RawHttpOptions& options) {
  if (request.size() > kChunk) return -1;  // never a cut-off request on the wire
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return -1;
  platform::TcpSocket socket;
  if (!socket.Connect(address, options.port, options.connect_timeout)) return -1;
  if (!socket.Send(request)) return -1;
  std::string first;
  if (socket.Recv(first, kChunk, options.receive_timeout) <= 0) return -1;
  std::string second;
  if (socket.Peek(second, kChunk, options.receive_timeout) > 0 &&
      socket.Recv(second, kChunk, options.receive_timeout) > 0) {
    first += second;
  }
  response = std::move(first);
  return 0;
}

bool IsNetworkAlive() { return platform::IsNetworkAlive(); }

bool WaitForNetwork(int tries, std::chrono::milliseconds interval) {
  auto usable = [](const std::string& a) { return !a.empty() && a != "0.0.0.0"; };
  for (int i = 0; i < tries; ++i) {
    bool found = false;
    for (const auto& adapter : platform::ListAdapters()) {
      if (usable(adapter.address) && usable(adapter.gateway) && platform::IsNetworkAlive()) {
        found = true;
        break;
      }
    }
    // Also after a success: a link that just came up gets a moment to settle.
    std::this_thread::sleep_for(interval);
    if (found) return true;
  }
  return false;
}

}  // namespace quarno
