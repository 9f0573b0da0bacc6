#include "ui/real_capabilities.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "core/log.h"
#include "core/netprobe.h"
#include "core/network_facts.h"
#include "core/settings_store.h"
#include "ddns/ddns_manager.h"
#include "ftpctl/ftp_server.h"
#include "ftpctl/link_shared_folder.h"
#include "ftpctl/server_interface.h"
#include "httpd/http_server.h"
#include "httpd/share_link.h"
#include "platform/folder_facts.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "router/router_client.h"
#include "share/home_tree.h"
#include "upnp/upnp_manager.h"

namespace quarno::ui {

namespace {

DdnsOptions DdnsOptionsFor(const WorldOptions& o, View& view) {
  DdnsOptions options;
  options.port = o.ddns_port;
  options.host_header = o.ddns_host;
  options.show_message = [&view](const std::string& text) {
    view.MessageBox(Surface::kMain, text);
  };
  return options;
}

UpnpOptions UpnpOptionsFor(const WorldOptions& o) {
  UpnpOptions options;
  options.ssdp_port = o.ssdp_port;
  options.ssdp_timeout = o.ssdp_timeout;
  return options;
}

RouterDdnsOptions RouterDdnsOptionsFor(const WorldOptions& o) {
  RouterDdnsOptions options;
  options.port = o.router_port;
  return options;
}

class RealAdmin final : public AdminChannel {
 public:
  RealAdmin(MessageSink& window, const WorldOptions& o)
      : client_(&window), address_(o.admin_address), auth_wait_(o.admin_auth_wait) {}
  ftpctl::SetUpResult SetUp(int admin_port) override {
    if (admin_port < 1 || admin_port > 65535) admin_port = 0;
    return client_.SetUp(static_cast<uint16_t>(admin_port), auth_wait_, address_);
  }
  bool SendOptions(const ftpctl::CGeneralOption& o) override { return client_.SendOptions(o); }
  bool SendServerState(uint16_t state) override { return client_.SendServerState(state); }
  bool SendAccounts(const ftpctl::CUserSetting& a) override { return client_.SendAccounts(a); }
  bool SendKeepAlive() override { return client_.SendKeepAlive(); }
  uint16_t ServerState() override { return client_.ServerState(); }
  std::vector<ftpctl::ConnectionInfo> Connections() override {
    return client_.Connections().Snapshot();
  }

 private:
  ftpctl::CServerInterface client_;
  std::string address_;
  std::chrono::milliseconds auth_wait_;
};

class RealHttp final : public HttpServing {
 public:
  explicit RealHttp(const WorldOptions& o) : listen_(o.http_listen_address) {}
  // The server must not outlive the window that started it.
  ~RealHttp() override { server_.StopHttpServer(); }
  bool Start(const std::string& port_text) override {
    httpd::HttpServerOptions options;
    options.port_text = port_text;
    options.document_root = platform::HomeFolder();
    options.listen_address = listen_;
    // The window's flag and MAC, read by the server on each status request.
    options.ftp_charset = [this]() -> std::optional<std::string> {
      return std::string(utf8_.load() ? "UTF-8" : "EUC-KR");
    };
    options.router_mac = [this] {
      std::lock_guard<std::mutex> lock(mac_mutex_);
      return mac_;
    };
    options.login_guard = guard_;
    std::string failure;
    if (server_.StartHttpServer(options, &failure)) return true;
    WriteLog("%s", failure.c_str());
    return false;
  }
  void Stop() override { server_.StopHttpServer(); }
  bool Running() override { return server_.Running(); }
  std::string ShareLink(const std::string& host, const std::string& port, const std::string& user,
                        const std::string& password, const std::string& share) override {
    const std::string token = httpd::StoredShareToken(user, password);
    return token.empty() ? std::string() : httpd::ShareLinkUrl(host, port, token, share);
  }
  void SetCharsetUtf8(bool utf8) override { utf8_ = utf8; }
  void SetRouterMac(const platform::MacAddress& mac) override {
    std::lock_guard<std::mutex> lock(mac_mutex_);
    for (std::size_t i = 0; i < mac_.size(); ++i) mac_[i] = mac[i];
  }

 private:
  std::string listen_;
  // This process serves no FTP, so its ban counts HTTP failures alone.
  std::shared_ptr<httpd::LoginGuard> guard_ =
      httpd::GuardFromAutoban(std::make_shared<platform::Autoban>(platform::AutobanPolicy{}));
  httpd::HttpServer server_;
  std::atomic<bool> utf8_{false};
  std::mutex mac_mutex_;
  std::array<std::uint8_t, 6> mac_{};
};

class RealShare final : public ShareTree {
 public:
  bool LinkSharedFolder(const std::string& user, const std::string& password,
                        const std::string& folder, ftpctl::CUserSetting& accounts) override {
    return ftpctl::LinkSharedFolder(link_, user, password, folder, accounts);
  }
  FolderKind Classify(const std::string& folder) override {
    switch (platform::ExamineFolder(folder)) {
      case platform::FolderPlace::kFolder:
        return FolderKind::kFolder;
      case platform::FolderPlace::kNetwork:
        return FolderKind::kNetwork;
      case platform::FolderPlace::kOptical:
        return FolderKind::kCdrom;
      case platform::FolderPlace::kNotFolder:
      case platform::FolderPlace::kMissing:
        break;
    }
    return FolderKind::kInvalid;
  }
  std::string JunctionPath(const std::string& folder) override {
    return share::JunctionPath(folder);
  }
  void SetCurrentJunctionPath(const std::string& path) override { link_.SetCurrentPath(path); }
  void RemoveCurrentJunction() override { link_.RemoveAtExit(); }

 private:
  share::ShareLink link_;
};

class RealFirewall final : public Firewall {
 public:
  explicit RealFirewall(const WorldOptions& o) : root_(o.firewall_root) {}
  void Check(const std::vector<int>& ports) override {
    const auto front_end = platform::ActiveFirewall(root_);
    if (front_end == platform::FirewallFrontEnd::kNone) return;
    std::string list;
    for (int port : ports) {
      if (port < 1 || port > 65535) continue;
      if (!list.empty()) list += ", ";
      list += std::to_string(port) + "/tcp";
    }
    // Nothing is changed without root: the user opens the ports.
    WriteLog("방화벽(%s)이 켜져 있습니다. 외부에서 접속하려면 다음 포트를 열어 주십시오: %s",
             front_end == platform::FirewallFrontEnd::kUfw ? "ufw" : "firewalld",
             list.empty() ? "FTP 포트, HTTP 포트" : list.c_str());
  }

 private:
  std::string root_;
};

}  // namespace

struct RealWorld::Parts {
  Parts(MessageSink& window, View& view, const WorldOptions& o)
      : ddns(DdnsOptionsFor(o, view)),
        mapper(UpnpOptionsFor(o)),
        heal_mapper(UpnpOptionsFor(o)),
        router(RouterOptions{}, RouterDdnsOptionsFor(o)),
        ftp_service(platform::MakeServiceManager()),
        admin(window, o),
        http(o),
        firewall(o) {}
  DdnsClientRegistry ddns;
  UpnpPortMapper mapper;
  UpnpPortMapper heal_mapper;
  RouterClient router;
  KeySettingsStore settings;
  SystemNetworkFacts network;
  ftpctl::ServiceFtpServerControl ftp_service;
  RealAdmin admin;
  RealHttp http;
  RealShare share;
  RealFirewall firewall;
};

std::unique_ptr<HttpServing> MakeWindowHttpServing(const WorldOptions& options) {
  return std::make_unique<RealHttp>(options);
}

RealWorld::RealWorld(MessageSink& window, View& view, WorldOptions options)
    : parts_(std::make_unique<Parts>(window, view, options)) {}

RealWorld::~RealWorld() = default;

Capabilities RealWorld::Capabilities() {
  ui::Capabilities caps;
  caps.ddns = &parts_->ddns;
  caps.mapper = &parts_->mapper;
  caps.heal_mapper = &parts_->heal_mapper;
  caps.router = &parts_->router;
  caps.settings = &parts_->settings;
  caps.network = &parts_->network;
  caps.ftp_service = &parts_->ftp_service;
  caps.admin = &parts_->admin;
  caps.http = &parts_->http;
  caps.share = &parts_->share;
  caps.firewall = &parts_->firewall;
  return caps;
}

}  // namespace quarno::ui
