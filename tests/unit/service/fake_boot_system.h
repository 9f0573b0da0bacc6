#pragma once
// A scripted world for the boot-time launcher: settings in a map, a UPnP
// table that classifies like a real gateway, a fake clock that Sleep advances.
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "service/boot_system.h"

namespace quarno::test {

class FakeBootSystem : public BootSystem {
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

  // --- what the launcher did ---
  std::vector<int> controls;
  int closed_configs = 0;
  std::vector<int> config_ftp_ports;
  FtpServerAccount config_account;
  std::vector<std::string> config_users;  // of every full configuration file
  int register_calls = 0;
  std::vector<std::string> registrations;  // "email name ftp http" of each RegisterHost
  std::vector<std::vector<int>> picks;     // low, high, excluded of each PickFreePort
  int delete_host_calls = 0;
  std::vector<std::vector<std::string>> router_ddns;  // name, email, ftp, http
  std::chrono::milliseconds slept{0};

  // --- BootSystem ---
  bool ReadSetting(std::string_view name, std::string& value) override {
    auto it = settings.find(name);
    if (it == settings.end()) return false;
    value = it->second;
    return true;
  }
  bool WriteRegistration(std::string_view host, std::string_view email, std::string_view ftp,
                         std::string_view http) override {
    settings["Quarno"] = host;
    settings["email"] = email;
    settings["Ftp_Port"] = ftp;
    settings["Http_Port"] = http;
    return true;
  }
  bool WriteSetting(std::string_view name, std::string_view value) override {
    settings[std::string(name)] = value;
    return true;
  }
  bool OpenFtpService() override { return service_exists; }
  platform::ServiceState QueryFtpService() override {
    if (service_runs_after_polls >= 0 && polls_++ >= service_runs_after_polls) {
      return platform::ServiceState::kRunning;
    }
    return platform::ServiceState::kStopped;
  }
  bool ControlFtpService(int code) override {
    controls.push_back(code);
    // 200 makes the FTP server listen on the configured port.
    if (code == 200 && !config_ftp_ports.empty()) taken_ports.insert(config_ftp_ports.back());
    return failing_controls.count(code) == 0;
  }
  bool WriteClosedFtpConfig() override {
    ++closed_configs;
    return true;
  }
  int WriteFtpServerConfig(const FtpServerAccount& account, const platform::MacAddress&,
                           int ftp_port) override {
    config_account = account;
    config_users.push_back(account.user);
    config_ftp_ports.push_back(ftp_port);
    return admin_port;
  }
  bool NetworkReady() override {
    return network_ready_after >= 0 && network_tries_++ >= network_ready_after;
  }
  bool BestGateway(std::string& out) override {
    out = gateway;
    return true;
  }
  bool LocalAddressFor(const std::string&, std::string& out) override {
    out = local;
    return true;
  }
  bool ResolveMac(const std::string&, platform::MacAddress& out) override {
    out = mac;
    return true;
  }
  bool IsPortFree(uint16_t port) override { return taken_ports.count(port) == 0; }
  uint16_t PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) override {
    picks.push_back({low, high, excluded});
    if (picked_ports.empty()) return 0;
    uint16_t port = picked_ports.front();
    picked_ports.erase(picked_ports.begin());
    return port;
  }
  std::string ResolveDdnsServer() override { return ddns_address; }
  void SetDdnsServerAddress(const std::string&) override {}
  std::string GetByMac(const platform::MacAddress&) override { return get_by_mac_answer; }
  std::string RegisterHost(const std::string& email, const std::string& name,
                           const platform::MacAddress&, int ftp, int http) override {
    ++register_calls;
    registrations.push_back(email + " " + name + " " + std::to_string(ftp) + " " +
                            std::to_string(http));
    if (register_answers.empty()) return "good;1;1";
    std::string answer = register_answers.front();
    register_answers.pop_front();
    return answer;
  }
  bool DeleteHost(const std::string&, const std::string&, const platform::MacAddress&) override {
    ++delete_host_calls;
    return true;
  }
  int ClassifyServerMapping(const std::string&, const std::string& me, UpnpFacts& facts) override {
    if (!upnp_present) return -1;
    facts.upnp_port = "5000";
    facts.control_url = "/ctl/IPConn";
    int result = 0;
    for (const PortMapping& m : table) {
      if (m.description == kServerFtpDescription) {
        result = m.internal_client == me ? 1 : 2;
        facts.ftp_port = m.external_port;
      } else if (m.description == kServerHttpDescription && m.internal_client == me) {
        facts.http_port = m.external_port;
      }
    }
    return result;
  }
  int ListPortMappings(const std::string&, const UpnpFacts&) override { return 0; }
  void RemoveServerMappings(const std::string&, const UpnpFacts&) override {
    std::erase_if(table, [](const PortMapping& m) {
      return m.description == kServerFtpDescription || m.description == kServerHttpDescription;
    });
  }
  int AddPortMapping(const std::string&, const UpnpFacts&, const PortMapping& m) override {
    table.push_back(m);
    return 0;
  }
  int DeletePortMapping(const std::string&, const UpnpFacts&, const PortMapping& m) override {
    std::erase_if(table, [&](const PortMapping& e) {
      return e.external_port == m.external_port && e.protocol == m.protocol;
    });
    return 0;
  }
  std::string SetRouterDdns(const std::string&, const std::string& name, const std::string& email,
                            const std::string& ftp, const std::string& http) override {
    router_ddns.push_back({name, email, ftp, http});
    return "ok";
  }
  void Sleep(std::chrono::milliseconds d) override { slept += d; }
  std::chrono::steady_clock::time_point Now() override {
    return std::chrono::steady_clock::time_point(slept);
  }

  bool HasServerMapping() const {
    for (const PortMapping& m : table) {
      if (m.description == kServerFtpDescription || m.description == kServerHttpDescription) {
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
  w.settings = {{"Quarno", "home"},         {"email", "me@example.org"},
                {"Ftp_Port", "2121"},       {"Http_Port", "8080"},
                {"Ftp_user", "joe"},        {"Ftp_password", "pw"},
                {"Ftp_sharedfolder", "/srv/share"}, {"Ftp_charset", "UTF-8"}};
  w.get_by_mac_answer = "home.quarno.ralmek.co.kr;me@example.org;2121;8080";
  if (with_mappings) {
    w.table = {{"2121", "TCP", "2121", w.local, "1", kServerFtpDescription},
               {"8080", "TCP", "8080", w.local, "1", kServerHttpDescription}};
  }
}

}  // namespace quarno::test
