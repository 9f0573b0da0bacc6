#include "ui/real_capabilities.h"

#include <cstdlib>

#include "core/log.h"
#include "core/netprobe.h"
#include "core/settings.h"
#include "ddns/ddns_manager.h"
#include "ftpctl/ftp_server.h"
#include "ftpctl/server_interface.h"
#include "httpd/http_server.h"
#include "platform/folder_facts.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "router/router_client.h"
#include "share/home_tree.h"
#include "share/link_shared_folder.h"
#include "upnp/upnp_manager.h"

namespace quarno::ui {

namespace {

class RealDdns final : public DdnsRegistry {
 public:
  RealDdns(const WorldOptions& o, View& view) : host_(o.ddns_host), client_(Options(o, view)) {}
  std::string Resolve() override { return ResolveDdnsServer(host_); }
  void SetServerAddress(const std::string& dotted) override { client_.SetServerAddress(dotted); }
  std::string GetByMac(const platform::MacAddress& mac) override { return client_.GetByMac(mac); }
  std::string RegisterHost(const std::string& email, const std::string& name,
                           const platform::MacAddress& mac, int ftp_port, int http_port) override {
    return client_.RegisterHost(email, name, mac, ftp_port, http_port);
  }
  bool DeleteHost(const std::string& email, const std::string& name,
                  const platform::MacAddress& mac) override {
    return client_.DeleteHost(email, name, mac);
  }

 private:
  static DdnsOptions Options(const WorldOptions& o, View& view) {
    DdnsOptions options;
    options.port = o.ddns_port;
    options.show_message = [&view](const std::string& text) {
      view.MessageBox(Surface::kMain, text);
    };
    return options;
  }
  std::string host_;
  CDDNS_Manager client_;
};

class RealMapper final : public PortMapper {
 public:
  explicit RealMapper(const WorldOptions& o) : upnp_(Options(o)) {}
  int Classify(const std::string& gateway, const std::string& local, std::string& ftp_port,
               std::string& http_port) override {
    owner_.ftp_port = ftp_port;
    owner_.http_port = http_port;
    const int verdict = upnp_.ClassifyServerMapping(gateway, local, owner_);
    ftp_port = owner_.ftp_port;
    http_port = owner_.http_port;
    return verdict;
  }
  std::vector<Mapping> List(const std::string& gateway) override {
    upnp_.Mappings().clear();
    upnp_.ListPortMappings(gateway, Port(), owner_.control_url);
    std::vector<Mapping> out;
    for (const auto& m : upnp_.Mappings()) {
      out.push_back({m.external_port, m.internal_client, m.description});
    }
    return out;
  }
  void RemoveServerMappings(const std::string& gateway) override {
    upnp_.RemoveServerMappings(gateway, Port(), owner_.control_url);
  }
  int Add(const std::string& gateway, int port, const std::string& description,
          const std::string& local) override {
    return ServerMapping(description, port, local)
        .AddPortMapping(gateway, Port(), owner_.control_url, upnp_.Options());
  }
  int Delete(const std::string& gateway, int port) override {
    return ServerMapping({}, port, {})
        .DeletePortMapping(gateway, Port(), owner_.control_url, upnp_.Options());
  }

 private:
  static UpnpOptions Options(const WorldOptions& o) {
    UpnpOptions options;
    options.ssdp_port = o.ssdp_port;
    options.ssdp_timeout = o.ssdp_timeout;
    return options;
  }
  int Port() const { return std::atoi(owner_.upnp_port.c_str()); }
  CUPnPManager upnp_;
  MappingOwner owner_;
};

class RealRouterDdns final : public RouterDdns {
 public:
  explicit RealRouterDdns(const WorldOptions& o) { options_.port = o.router_port; }
  std::string Set(const std::string& gateway, const std::string& name, const std::string& email,
                  const std::string& ftp_port, const std::string& http_port) override {
    return SetRouterDdns(gateway, name, email, ftp_port, http_port, options_);
  }

 private:
  RouterDdnsOptions options_;
};

class RealSettings final : public SettingsStore {
 public:
  bool Read(const std::string& name, std::string& value) override {
    return ReadSetting(name, value);
  }
  bool WriteRegistration(const std::string& name, const std::string& email,
                         const std::string& ftp_port, const std::string& http_port) override {
    return quarno::WriteRegistration(name, email, ftp_port, http_port);
  }
  bool WriteAccount(const std::string& user, const std::string& password, const std::string& folder,
                    const std::string& charset) override {
    return quarno::WriteAccount(user, password, folder, charset);
  }
  bool Write(const std::string& name, const std::string& value) override {
    return WriteSetting(name, value);
  }
};

class RealPorts final : public Ports {
 public:
  bool IsPortFree(uint16_t port) override { return quarno::IsPortFree(port); }
  uint16_t PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) override {
    return quarno::PickFreePort(low, high, excluded);
  }
};

class RealFtp final : public FtpServer {
 public:
  RealFtp(MessageSink& window, const WorldOptions& o)
      : client_(&window),
        manager_(platform::MakeServiceManager()),
        address_(o.admin_address),
        auth_wait_(o.admin_auth_wait) {}
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
  bool Control(int code) override { return ftpctl::SendFtpControl(*manager_, code); }
  void StopService() override { ftpctl::StopFtpService(*manager_); }

 private:
  ftpctl::CServerInterface client_;
  std::unique_ptr<platform::ServiceManager> manager_;
  std::string address_;
  std::chrono::milliseconds auth_wait_;
};

class RealHttp final : public HttpServing {
 public:
  explicit RealHttp(const WorldOptions& o) : listen_(o.http_listen_address) {}
  bool Start(const std::string& port_text) override {
    httpd::HttpServerOptions options;
    options.port_text = port_text;
    options.document_root = platform::HomeFolder();
    options.listen_address = listen_;
    std::string failure;
    if (httpd::StartHttpServer(options, &failure)) return true;
    WriteLog("%s", failure.c_str());
    return false;
  }
  void Stop() override { httpd::StopHttpServer(); }
  bool Running() override { return httpd::HttpServerRunning(); }
  void SetCharsetUtf8(bool utf8) override { httpd::SetFtpCharsetUtf8(utf8); }
  void SetRouterMac(const platform::MacAddress& mac) override {
    std::array<std::uint8_t, 6> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = mac[i];
    httpd::SetRouterMac(bytes);
  }

 private:
  std::string listen_;
};

class RealShare final : public ShareTree {
 public:
  bool LinkSharedFolder(const std::string& user, const std::string& password,
                        const std::string& folder, ftpctl::CUserSetting& accounts) override {
    return share::LinkSharedFolder(user, password, folder, accounts);
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
  std::string HomeFolder() override { return platform::HomeFolder(); }
  std::string JunctionPath(const std::string& folder) override {
    return share::JunctionPath(folder);
  }
  void SetCurrentJunctionPath(const std::string& path) override {
    share::SetCurrentJunctionPath(path);
  }
  void RemoveCurrentJunction() override { share::RemoveCurrentJunctionAtExit(); }
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
      : ddns(o, view), mapper(o), router(o), ftp(window, o), http(o), firewall(o) {}
  RealDdns ddns;
  RealMapper mapper;
  RealRouterDdns router;
  RealSettings settings;
  RealPorts ports;
  RealFtp ftp;
  RealHttp http;
  RealShare share;
  RealFirewall firewall;
};

RealWorld::RealWorld(MessageSink& window, View& view, WorldOptions options)
    : parts_(std::make_unique<Parts>(window, view, options)) {}

RealWorld::~RealWorld() = default;

Capabilities RealWorld::Capabilities() {
  ui::Capabilities caps;
  caps.ddns = &parts_->ddns;
  caps.mapper = &parts_->mapper;
  caps.router = &parts_->router;
  caps.settings = &parts_->settings;
  caps.ports = &parts_->ports;
  caps.ftp = &parts_->ftp;
  caps.http = &parts_->http;
  caps.share = &parts_->share;
  caps.firewall = &parts_->firewall;
  return caps;
}

}  // namespace quarno::ui
