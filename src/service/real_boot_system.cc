// The boot system wired to the real clients: settings store, service manager,
// the kernel's network facts, and the DDNS, UPnP and router clients.
#include "core/network_facts.h"
#include "core/settings_store.h"
#include "ddns/ddns_manager.h"
#include "ftpctl/ftp_server.h"
#include "platform/clock.h"
#include "router/router_client.h"
#include "service/boot_system.h"
#include "upnp/upnp_manager.h"

namespace quarno {
namespace {

DdnsOptions DdnsOptionsFor(const BootSystemOptions& options) {
  DdnsOptions ddns;
  ddns.program = Program::kBootup;
  ddns.port = options.ddns_port;
  ddns.connect_timeout = options.connect_timeout;
  ddns.receive_timeout = options.receive_timeout;
  return ddns;
}

UpnpOptions UpnpOptionsFor(const BootSystemOptions& options) {
  UpnpOptions upnp = UpnpOptions::ForBootup();
  upnp.connect_timeout = options.connect_timeout;
  upnp.receive_timeout = options.upnp_receive_timeout;
  return upnp;
}

// The periodic check: a gateway answers a unicast search within the 3 s the
// search allows (MX), so a router that is still starting costs the check 5 s
// rather than 15 s, and the next try comes sooner.
UpnpOptions HealUpnpOptionsFor(const BootSystemOptions& options) {
  UpnpOptions upnp = UpnpOptionsFor(options);
  upnp.ssdp_timeout = std::chrono::milliseconds(5000);
  return upnp;
}

// The router check at boot: 255-byte receives, its own log line.
RouterOptions RouterProbeOptionsFor(const BootSystemOptions& options) {
  RouterOptions router;
  router.program = Program::kBootup;
  router.port = options.router_port;
  router.connect_timeout = options.router_connect_timeout;
  router.receive_timeout = options.router_receive_timeout;
  router.chunk_size = 255;
  return router;
}

RouterDdnsOptions RouterDdnsOptionsFor(const BootSystemOptions& options) {
  RouterDdnsOptions router;
  router.program = Program::kBootup;
  router.port = options.router_port;
  router.connect_timeout = options.connect_timeout;  // 10 s in the boot service
  router.receive_timeout = options.receive_timeout;
  return router;
}

class RealBootWorld final : public BootWorld {
 public:
  explicit RealBootWorld(const BootSystemOptions& options)
      : ftp_(platform::MakeServiceManager(), options.control_timeout),
        ddns_(DdnsOptionsFor(options)),
        mapper_(UpnpOptionsFor(options)),
        heal_mapper_(HealUpnpOptionsFor(options)),
        router_(RouterProbeOptionsFor(options), RouterDdnsOptionsFor(options)) {}

  BootSystem System() override {
    return {settings_, ftp_, network_, ddns_, mapper_, router_, clock_};
  }
  PortMapper* HealMapper() override { return &heal_mapper_; }

 private:
  KeySettingsStore settings_;
  ftpctl::ServiceFtpServerControl ftp_;
  SystemNetworkFacts network_;
  DdnsClientRegistry ddns_;
  UpnpPortMapper mapper_;
  UpnpPortMapper heal_mapper_;
  RouterClient router_;
  platform::SystemClock clock_;
};

}  // namespace

std::unique_ptr<BootWorld> MakeBootSystem(const BootSystemOptions& options) {
  return std::make_unique<RealBootWorld>(options);
}

}  // namespace quarno
