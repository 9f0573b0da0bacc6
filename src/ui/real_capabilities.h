#pragma once
// The main window's capabilities wired to the subsystems. Every peer address
// comes from the caller: the router's (gateway) through the window's facts,
// the DDNS server's through its name, resolved once.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/endpoints.h"
#include "core/messages.h"
#include "ui/capabilities.h"
#include "ui/view.h"

namespace quarno::ui {

struct WorldOptions {
  std::string ddns_host = endpoints::kDdnsServerHost;  // resolved once at start
  uint16_t ddns_port = endpoints::kDdnsServerPort;
  uint16_t router_port = endpoints::kRouterHttpPort;
  uint16_t ssdp_port = endpoints::kSsdpPort;
  std::chrono::milliseconds ssdp_timeout{15000};
  std::string admin_address = "127.0.0.1";
  std::chrono::milliseconds admin_auth_wait{5000};
  std::string http_listen_address;  // empty: every local address (the product)
  std::string firewall_root = "/";
};

// The HTTP server the main window starts, by itself: the same options and
// ban as inside RealWorld, for a process that serves without the window.
std::unique_ptr<HttpServing> MakeWindowHttpServing(const WorldOptions& options = {});

// Owns the real capabilities; Capabilities() hands out pointers into it.
class RealWorld {
 public:
  // `window` receives the admin client's messages; `view` shows the DDNS
  // client's own time-out messages.
  RealWorld(MessageSink& window, View& view, WorldOptions options = {});
  ~RealWorld();
  RealWorld(const RealWorld&) = delete;
  RealWorld& operator=(const RealWorld&) = delete;

  ui::Capabilities Capabilities();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace quarno::ui
