#pragma once
// What the programs ask of the network around them, as one capability: the
// gateway, this PC's address and the router's MAC, and the local TCP ports.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/netinfo.h"

namespace quarno {

class NetworkFacts {
 public:
  virtual ~NetworkFacts() = default;
  // An adapter with an address and a gateway while the network is alive.
  virtual bool NetworkReady() = 0;
  // The default route's next hop, dotted.
  virtual std::optional<std::string> DefaultGateway() = 0;
  // The address of the first adapter whose gateway is `gateway`.
  virtual std::optional<std::string> LocalAddressFor(const std::string& gateway) = 0;
  // The gateway's MAC from the neighbour table.
  virtual std::optional<platform::MacAddress> GatewayMac(const std::string& gateway) = 0;
  virtual bool IsPortFree(uint16_t port) = 0;
  // A free port in [low, high) other than `excluded` (PickFreePort of netprobe.h).
  virtual std::optional<uint16_t> PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) = 0;
};

// /proc, the interface list and the neighbour table of this machine.
class SystemNetworkFacts final : public NetworkFacts {
 public:
  bool NetworkReady() override;
  std::optional<std::string> DefaultGateway() override;
  std::optional<std::string> LocalAddressFor(const std::string& gateway) override;
  std::optional<platform::MacAddress> GatewayMac(const std::string& gateway) override;
  bool IsPortFree(uint16_t port) override;
  std::optional<uint16_t> PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) override;
};

}  // namespace quarno
