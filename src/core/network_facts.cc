#include "core/network_facts.h"

#include "core/netprobe.h"

namespace quarno {

bool SystemNetworkFacts::NetworkReady() {
  if (!platform::IsNetworkAlive()) return false;
  for (const platform::Adapter& adapter : platform::ListAdapters()) {
    if (adapter.loopback || !adapter.up) continue;
    if (!adapter.address.empty() && adapter.address != "0.0.0.0" && !adapter.gateway.empty() &&
        adapter.gateway != "0.0.0.0") {
      return true;
    }
  }
  return false;
}

std::optional<std::string> SystemNetworkFacts::DefaultGateway() {
  auto route = platform::ReadDefaultRoute();
  if (!route) return std::nullopt;
  return route->gateway;
}

std::optional<std::string> SystemNetworkFacts::LocalAddressFor(const std::string& gateway) {
  // The adapter list keeps gateway texts of at most 16 characters.
  for (const platform::Adapter& adapter : platform::ListAdapters()) {
    if (adapter.gateway.substr(0, 16) == gateway.substr(0, 16) && !adapter.address.empty()) {
      return adapter.address;
    }
  }
  return std::nullopt;
}

std::optional<platform::MacAddress> SystemNetworkFacts::GatewayMac(const std::string& gateway) {
  return platform::ResolveNeighbourMac(gateway);
}

bool SystemNetworkFacts::IsPortFree(uint16_t port) { return quarno::IsPortFree(port); }

std::optional<uint16_t> SystemNetworkFacts::PickFreePort(uint16_t low, uint16_t high,
                                                         uint16_t excluded) {
  const uint16_t port = quarno::PickFreePort(low, high, excluded);
  if (port == 0) return std::nullopt;
  return port;
}

}  // namespace quarno
