#pragma once
// The capabilities the boot-time launcher acts on, each the subsystem's own
// interface. MakeBootSystem() wires them to the real clients, tests to fakes.
#include <chrono>
#include <cstdint>
#include <memory>

#include "core/network_facts.h"
#include "core/settings_store.h"
#include "ddns/ddns_registry.h"
#include "ftpctl/ftp_server_control.h"
#include "platform/clock.h"
#include "router/router_access.h"
#include "upnp/port_mapper.h"

namespace quarno {

struct BootSystem {
  SettingsStore& settings;
  ftpctl::FtpServerControl& ftp;
  NetworkFacts& network;
  DdnsRegistry& ddns;
  PortMapper& mapper;
  RouterAccess& router;
  platform::Clock& clock;
};

// Ports and time-outs of the real clients that the boot service uses.
struct BootSystemOptions {
  uint16_t ddns_port = 80;
  uint16_t router_port = 80;
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds receive_timeout{15000};
  // The router check at boot (its own wait for a second chunk uses the receive time-out).
  std::chrono::milliseconds router_connect_timeout{10000};
  std::chrono::milliseconds router_receive_timeout{15000};
  // The UPnP exchange waits as long as the program's own (15 s); a 10 ms wait
  // fails against any router that takes longer than that to answer.
  std::chrono::milliseconds upnp_receive_timeout{15000};
  std::chrono::milliseconds control_timeout{10000};
};

// Owns the real capabilities: settings store, service manager, /proc, the peers' clients.
class BootWorld {
 public:
  virtual ~BootWorld() = default;
  virtual BootSystem System() = 0;
  // The port mapper the check of the mappings uses once the boot work is
  // done; nullptr: System().mapper.
  virtual PortMapper* HealMapper() { return nullptr; }
};
std::unique_ptr<BootWorld> MakeBootSystem(const BootSystemOptions& options = {});

}  // namespace quarno
