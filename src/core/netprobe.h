#pragma once
// Small probes of the network surroundings, shared by both programs.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/netinfo.h"

namespace quarno {

struct GatewayInfo {
  std::string gateway;         // router address, dotted
  std::string local_address;   // this PC's address on the router's network
  platform::MacAddress mac{};  // router MAC
};

// True when the default route and the gateway's MAC were found; the local
// address is filled when an adapter matches (else keeps its value).
bool FindGateway(GatewayInfo& info);
// The process-wide copy of the last router MAC found.
platform::MacAddress LastGatewayMac();

// "%02X:%02X:%02X:%02X:%02X:%02X" and the last three bytes "%02X%02X%02X".
std::string FormatMac(const platform::MacAddress& mac);
std::string FormatMacTail(const platform::MacAddress& mac);

// Local TCP ports in the states listen, SYN sent, SYN received or established.
std::vector<uint16_t> GetPortList();
bool IsPortFree(uint16_t port);
// A free port in [low, high) other than `excluded`, starting at a random point
// at least 1000 below `high` and walking up; 0 when none. The port is one a
// server can listen on now: the picked port is about to be served.
uint16_t PickFreePort(uint16_t low, uint16_t high, uint16_t excluded = 0);
// The walk behind PickFreePort for a given sorted list of taken ports and a
// random draw R in 0..32767: start at low + (R mod (high - low - 1000)).
// `listenable`, when given, must also accept the port.
uint16_t PickFreePortFrom(const std::vector<uint16_t>& taken_sorted, uint16_t low, uint16_t high,
                          uint16_t excluded, uint32_t random,
                          const std::function<bool(uint16_t)>& listenable = {});

struct RawHttpOptions {
  uint16_t port = 80;
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds receive_timeout{15000};
};
// One request, at most two 512-byte chunks of answer. 0 on success, -1 on any
// failure (also for a request over 512 bytes: nothing is sent then).
int RawHttpExchange(const std::string& address, const std::string& request, std::string& response,
                    const RawHttpOptions& options = {});

bool IsNetworkAlive();
// Up to `tries` polls, `interval` apart, for an adapter with an address and a
// gateway while the network is alive.
bool WaitForNetwork(int tries = 180, std::chrono::milliseconds interval = std::chrono::seconds(1));

}  // namespace quarno
