// The boot system wired to the real clients: settings store, service manager,
// the kernel's network facts, and the DDNS, UPnP and router clients.
#include <thread>

#include "core/netprobe.h"
#include "core/settings.h"
#include "ddns/ddns_manager.h"
#include "ftpctl/ftp_server.h"
#include "platform/netinfo.h"
#include "router/router_client.h"
#include "service/boot_system.h"
#include "upnp/upnp_manager.h"

namespace quarno {
namespace {

class RealBootSystem final : public BootSystem {
 public:
  explicit RealBootSystem(const BootSystemOptions& options)
      : options_(options),
        services_(platform::MakeServiceManager()),
        ddns_(DdnsOptionsFor(options)),
        upnp_(UpnpOptionsFor(options)) {}

  bool ReadSetting(std::string_view name, std::string& value) override {
    return quarno::ReadSetting(name, value);
  }
  bool WriteRegistration(std::string_view host, std::string_view email, std::string_view ftp_port,
                         std::string_view http_port) override {
    return quarno::WriteRegistration(host, email, ftp_port, http_port);
  }
  bool WriteSetting(std::string_view name, std::string_view value) override {
    return quarno::WriteSetting(name, value);
  }

  bool OpenFtpService() override {
    return services_ && services_->Exists(ftpctl::kFtpServiceName);
  }
  platform::ServiceState QueryFtpService() override {
    return services_ ? services_->Query(ftpctl::kFtpServiceName) : platform::ServiceState::kUnknown;
  }
  bool ControlFtpService(int code) override {
    return services_ && ftpctl::SendFtpControl(*services_, code, options_.control_timeout);
  }
  bool WriteClosedFtpConfig() override { return ftpctl::WriteFtpPortClosedConfig(); }
  int WriteFtpServerConfig(const FtpServerAccount& account, const platform::MacAddress& mac,
                           int ftp_port) override {
    ftpctl::FtpAccountValues values;
    values.user = account.user;
    values.password = account.password;
    values.shared_folder = account.shared_folder;
    values.ftp_port = ftp_port;
    values.router_mac = mac;
    uint16_t admin_port = 0;
    ftpctl::WriteFtpServerConfig(values, admin_port);
    return admin_port;
  }

  bool NetworkReady() override {
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
  bool BestGateway(std::string& gateway) override {
    auto route = platform::ReadDefaultRoute();
    if (!route) return false;
    gateway = route->gateway;
    return true;
  }
  bool LocalAddressFor(const std::string& gateway, std::string& local) override {
    for (const platform::Adapter& adapter : platform::ListAdapters()) {
      if (adapter.gateway.substr(0, 16) == gateway.substr(0, 16) && !adapter.address.empty()) {
        local = adapter.address;
        return true;
      }
    }
    return false;
  }
  bool ResolveMac(const std::string& gateway, platform::MacAddress& mac) override {
    auto found = platform::ResolveNeighbourMac(gateway);
    if (!found) return false;
    mac = *found;
    return true;
  }
  bool IsPortFree(uint16_t port) override { return quarno::IsPortFree(port); }
  uint16_t PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) override {
    return quarno::PickFreePort(low, high, excluded);
  }

  std::string ResolveDdnsServer() override { return quarno::ResolveDdnsServer(); }
  void SetDdnsServerAddress(const std::string& dotted) override { ddns_.SetServerAddress(dotted); }
  std::string GetByMac(const platform::MacAddress& mac) override { return ddns_.GetByMac(mac); }
  std::string RegisterHost(const std::string& email, const std::string& name,
                           const platform::MacAddress& mac, int ftp_port, int http_port) override {
    return ddns_.RegisterHost(email, name, mac, ftp_port, http_port);
  }
  bool DeleteHost(const std::string& email, const std::string& name,
                  const platform::MacAddress& mac) override {
    return ddns_.DeleteHost(email, name, mac);
  }

  int ClassifyServerMapping(const std::string& gateway, const std::string& local,
                            UpnpFacts& facts) override {
    MappingOwner owner;
    owner.ftp_port = facts.ftp_port;
    owner.http_port = facts.http_port;
    const int result = upnp_.ClassifyServerMapping(gateway, local, owner);
    facts.upnp_port = owner.upnp_port;
    facts.control_url = owner.control_url;
    facts.ftp_port = owner.ftp_port;
    facts.http_port = owner.http_port;
    return result;
  }
  int ListPortMappings(const std::string& gateway, const UpnpFacts& facts) override {
    return upnp_.ListPortMappings(gateway, Port(facts), facts.control_url);
  }
  void RemoveServerMappings(const std::string& gateway, const UpnpFacts& facts) override {
    upnp_.RemoveServerMappings(gateway, Port(facts), facts.control_url);
  }
  int AddPortMapping(const std::string& gateway, const UpnpFacts& facts,
                     const PortMapping& mapping) override {
    return Container(mapping).AddPortMapping(gateway, Port(facts), facts.control_url,
                                             upnp_.Options());
  }
  int DeletePortMapping(const std::string& gateway, const UpnpFacts& facts,
                        const PortMapping& mapping) override {
    return Container(mapping).DeletePortMapping(gateway, Port(facts), facts.control_url,
                                                upnp_.Options());
  }

  std::string SetRouterDdns(const std::string& gateway, const std::string& name,
                            const std::string& email, const std::string& ftp_port,
                            const std::string& http_port) override {
    RouterDdnsOptions router;
    router.program = Program::kBootup;
    router.port = options_.router_port;
    router.connect_timeout = options_.connect_timeout;  // 10 s in the boot service
    router.receive_timeout = options_.receive_timeout;
    return quarno::SetRouterDdns(gateway, name, email, ftp_port, http_port, router);
  }

  void Sleep(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
  std::chrono::steady_clock::time_point Now() override { return std::chrono::steady_clock::now(); }

 private:
  static DdnsOptions DdnsOptionsFor(const BootSystemOptions& options) {
    DdnsOptions ddns;
    ddns.program = Program::kBootup;
    ddns.port = options.ddns_port;
    ddns.connect_timeout = options.connect_timeout;
    ddns.receive_timeout = options.receive_timeout;
    return ddns;
  }
  static UpnpOptions UpnpOptionsFor(const BootSystemOptions& options) {
    UpnpOptions upnp = UpnpOptions::ForBootup();
    upnp.connect_timeout = options.connect_timeout;
    upnp.receive_timeout = options.upnp_receive_timeout;
    return upnp;
  }
  static int Port(const UpnpFacts& facts) {
    try {
      return std::stoi(facts.upnp_port);
    } catch (...) {
      return 0;
    }
  }
  static CPortMappingContainer Container(const PortMapping& mapping) {
    CPortMappingContainer container;
    container.external_port = mapping.external_port;
    container.protocol = mapping.protocol;
    container.internal_port = mapping.internal_port;
    container.internal_client = mapping.internal_client;
    container.enabled = mapping.enabled;
    container.description = mapping.description;
    return container;
  }

  BootSystemOptions options_;
  std::unique_ptr<platform::ServiceManager> services_;
  CDDNS_Manager ddns_;
  CUPnPManager upnp_;
};

}  // namespace

std::unique_ptr<BootSystem> MakeBootSystem(const BootSystemOptions& options) {
  return std::make_unique<RealBootSystem>(options);
}

}  // namespace quarno
