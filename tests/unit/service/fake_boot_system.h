#pragma once
// A scripted world for the boot-time launcher: settings in a map, a UPnP
// table that classifies like a real gateway, a fake clock that Sleep advances.
// The router check is the real probe against a loopback peer on router_port.
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ddns/ddns_manager.h"
#include "router/router_client.h"
#include "service/boot_system.h"

namespace quarno::test {

class FakeBootSystem : public SettingsStore,
                       public ftpctl::FtpServerControl,
                       public NetworkFacts,
                       public DdnsRegistry,
                       public PortMapper,
                       public RouterAccess,
                       public platform::Clock {
 public:
  // --- scripted world ---
  std::map<std::string, std::string, std::less<>> settings;
  bool service_exists = true;
  int service_runs_after_polls = 0;  // polls until the FTP service runs; -1 never
  std::set<int> failing_controls;
  int network_ready_after = 0;  // tries; -1 never
  std::string gateway = "127.0.0.1";
  std::string local = "198.18.10.10";
  platform::MacAddress mac{0x02, 0x00, 0x00, 0x12, 0xAB, 0xCD};
  std::string ddns_address = "192.0.3.53";
  std::string get_by_mac_answer = "null";
  std::deque<std::string> register_answers;  // then "good;1;1"
  bool upnp_present = true;
  std::vector<PortMapping> table;
  std::set<uint16_t> taken_ports;
  std::vector<uint16_t> picked_ports{35001, 35002, 35003, 35004, 35005};
  int admin_port = 31234;
  std::optional<std::string> external_address = "192.0.3.2";
  uint16_t router_port = 80;
  std::chrono::milliseconds router_connect_timeout{10000};
  std::chrono::milliseconds router_receive_timeout{15000};

  // --- what the launcher did ---
  std::vector<int> controls;
  int closed_configs = 0;
  std::vector<int> config_ftp_ports;
  std::vector<ftpctl::PassiveMode> config_passive;  // of every full configuration file
  ftpctl::FtpServerAccount config_account;
  std::vector<std::string> config_users;  // of every full configuration file
  int register_calls = 0;
  std::vector<std::string> registrations;  // "email name ftp http" of each Register
  std::vector<std::vector<int>> picks;     // low, high, excluded of each PickFreePort
  int delete_host_calls = 0;
  std::vector<std::vector<std::string>> router_ddns;  // name, email, ftp, http
  std::chrono::milliseconds slept{0};
  std::vector<PortMapping> added;  // every AddMapping
  int external_address_calls = 0;

  operator BootSystem() { return {*this, *this, *this, *this, *this, *this, *this}; }

  // --- SettingsStore ---
  std::optional<std::string> Read(std::string_view name) override {
    auto it = settings.find(name);
    if (it == settings.end()) return std::nullopt;
    return it->second;
  }
  bool Write(std::string_view name, std::string_view value) override {
    settings[std::string(name)] = value;
    return true;
  }
  bool WriteRegistration(const StoredRegistration& r) override {
    settings["Quarno"] = r.name;
    settings["email"] = r.email;
    settings["Ftp_Port"] = r.ftp_port;
    settings["Http_Port"] = r.http_port;
    return true;
  }
  bool WriteAccount(const StoredAccount& a) override {
    settings["Ftp_user"] = a.user;
    settings["Ftp_password"] = a.password;
    settings["Ftp_sharedfolder"] = a.shared_folder;
    settings["Ftp_charset"] = a.charset;
    return true;
  }
  bool Remove(std::string_view name) override {
    settings.erase(std::string(name));
    return true;
  }

  // --- FtpServerControl ---
  bool ServiceExists() override { return service_exists; }
  platform::ServiceState QueryService() override {
    if (service_runs_after_polls >= 0 && polls_++ >= service_runs_after_polls) {
      return platform::ServiceState::kRunning;
    }
    return platform::ServiceState::kStopped;
  }
  bool Control(ftpctl::ControlCode code) override {
    controls.push_back(code);
    // 200 makes the FTP server listen on the configured port.
    if (code == 200 && !config_ftp_ports.empty()) taken_ports.insert(config_ftp_ports.back());
    return failing_controls.count(code) == 0;
  }
  bool WritePortClosedConfig() override {
    ++closed_configs;
    return true;
  }
  ftpctl::FtpConfigResult WriteServerConfig(const ftpctl::FtpServerAccount& account,
                                            const platform::MacAddress&, int ftp_port,
                                            const ftpctl::PassiveMode& passive) override {
    config_account = account;
    config_passive.push_back(passive);
    config_users.push_back(account.user);
    config_ftp_ports.push_back(ftp_port);
    return {true, static_cast<uint16_t>(admin_port)};
  }
  std::optional<ftpctl::PreparedFtpServer> Prepare() override { return std::nullopt; }
  bool StartService(const std::string&) override { return true; }
  void StopService() override {}

  // --- NetworkFacts ---
  bool NetworkReady() override {
    return network_ready_after >= 0 && network_tries_++ >= network_ready_after;
  }
  std::optional<std::string> DefaultGateway() override { return gateway; }
  std::optional<std::string> LocalAddressFor(const std::string&) override { return local; }
  std::optional<platform::MacAddress> GatewayMac(const std::string&) override { return mac; }
  bool IsPortFree(uint16_t port) override { return taken_ports.count(port) == 0; }
  std::optional<uint16_t> PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) override {
    picks.push_back({low, high, excluded});
    if (picked_ports.empty()) return std::nullopt;
    uint16_t port = picked_ports.front();
    picked_ports.erase(picked_ports.begin());
    return port;
  }

  // --- DdnsRegistry ---
  std::optional<std::string> LocateServer() override {
    if (ddns_address.empty()) return std::nullopt;
    return ddns_address;
  }
  RegisterResult Register(const DdnsRegistration& r) override {
    ++register_calls;
    registrations.push_back(r.email + " " + r.name + " " + std::to_string(r.ftp_port) + " " +
                            std::to_string(r.http_port));
    std::string answer = "good;1;1";
    if (!register_answers.empty()) {
      answer = register_answers.front();
      register_answers.pop_front();
    }
    return {ClassifyRegisterAnswer(answer), answer};
  }
  bool Delete(const std::string&, const std::string&, const platform::MacAddress&) override {
    ++delete_host_calls;
    return true;
  }
  DdnsLookup LookupByMac(const platform::MacAddress&) override {
    return {get_by_mac_answer, ParseGetByMacAnswer(get_by_mac_answer)};
  }

  // --- PortMapper ---
  std::optional<UpnpControlPoint> Discover(const std::string& at) override {
    if (!upnp_present) return std::nullopt;
    return UpnpControlPoint{at, 5000, "/ctl/IPConn"};
  }
  ServerMappingReading ClassifyServerMappings(const std::string& at,
                                              const std::string& me) override {
    ServerMappingReading reading;
    if (!upnp_present) return reading;
    reading.control = UpnpControlPoint{at, 5000, "/ctl/IPConn"};
    reading.kind = kNoServerMapping;
    for (const PortMapping& m : table) {
      if (m.description == kFtpMappingDescription) {
        reading.kind = m.internal_client == me ? kMappedToThisPc : kMappedToOtherPc;
        reading.ftp_port = m.external_port;
      } else if (m.description == kHttpMappingDescription && m.internal_client == me) {
        reading.http_port = m.external_port;
      }
    }
    return reading;
  }
  bool ReadMappings(const UpnpControlPoint&) override { return true; }
  std::vector<PortMapping> Mappings() const override { return table; }
  void RemoveServerMappings(const UpnpControlPoint&, ServerMappingScope scope) override {
    std::erase_if(table, [scope](const PortMapping& m) {
      return ((m.description == kFtpMappingDescription ||
               m.description == kPassiveMappingDescription) &&
              scope == ServerMappingScope::kFtpAndHttp) ||
             m.description == kHttpMappingDescription;
    });
  }
  UpnpActionResult AddMapping(const UpnpControlPoint&, const PortMapping& m) override {
    added.push_back(m);
    // Like a gateway: the same port and protocol for this client is updated in place.
    for (PortMapping& e : table) {
      if (e.external_port == m.external_port && e.protocol == m.protocol) {
        if (e.internal_client != m.internal_client) return {718};
        e = m;
        return {kUpnpActionOk};
      }
    }
    table.push_back(m);
    return {kUpnpActionOk};
  }
  UpnpActionResult DeleteMapping(const UpnpControlPoint&, const PortMapping& m) override {
    std::erase_if(table, [&](const PortMapping& e) {
      return e.external_port == m.external_port && e.protocol == m.protocol;
    });
    return {kUpnpActionOk};
  }

  std::optional<std::string> ExternalAddress(const UpnpControlPoint&) override {
    ++external_address_calls;
    return upnp_present ? external_address : std::nullopt;
  }

  // --- RouterAccess ---
  std::optional<std::string> Probe(const std::string& address) override {
    RouterOptions options;
    options.program = Program::kBootup;
    options.port = router_port;
    options.connect_timeout = router_connect_timeout;
    options.receive_timeout = router_receive_timeout;
    options.chunk_size = 255;
    return RouterClient(options).Probe(address);
  }
  FirmwareVersion Firmware(const std::string&) override { return {}; }
  PasswordQuestion WantsPassword(const std::string&) override {
    return PasswordQuestion::kNotNeeded;
  }
  CredentialCheck CheckCredentials(const std::string&, const std::string&,
                                   const std::string&) override {
    return {};
  }
  std::optional<std::string> SetDdns(const std::string&, const RouterDdnsSetting& s) override {
    router_ddns.push_back({s.name, s.email, s.ftp_port, s.http_port});
    return "ok";
  }

  // --- Clock ---
  void Sleep(std::chrono::milliseconds d) override { slept += d; }
  std::chrono::steady_clock::time_point Now() override {
    return std::chrono::steady_clock::time_point(slept);
  }

  // The table without the passive range, and the passive range alone.
  std::vector<PortMapping> FtpAndHttp() const {
    std::vector<PortMapping> out;
    for (const PortMapping& m : table)
      if (m.description != kPassiveMappingDescription) out.push_back(m);
    return out;
  }
  std::vector<std::string> PassivePorts() const {
    std::vector<std::string> out;
    for (const PortMapping& m : table)
      if (m.description == kPassiveMappingDescription) out.push_back(m.external_port);
    return out;
  }

  bool HasServerMapping() const {
    for (const PortMapping& m : table) {
      if (m.description == kFtpMappingDescription || m.description == kHttpMappingDescription) {
        return true;
      }
    }
    return false;
  }

 private:
  int polls_ = 0;
  int network_tries_ = 0;
};

// A registration of "home" for this PC with ports 2121 and 8080.
inline void RegisterHome(FakeBootSystem& w, bool with_mappings) {
  w.settings = {{"Quarno", "home"},
                {"email", "me@example.org"},
                {"Ftp_Port", "2121"},
                {"Http_Port", "8080"},
                {"Ftp_user", "joe"},
                {"Ftp_password", "pw"},
                {"Ftp_sharedfolder", "/srv/share"},
                {"Ftp_charset", "UTF-8"}};
  w.get_by_mac_answer = "home.quarno.ralmek.co.kr;me@example.org;2121;8080";
  if (with_mappings) {
    w.table = {{"2121", "TCP", "2121", w.local, "1", kFtpMappingDescription},
               {"8080", "TCP", "8080", w.local, "1", kHttpMappingDescription}};
  }
}

}  // namespace quarno::test
