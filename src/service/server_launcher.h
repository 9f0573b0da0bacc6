#pragma once
// The boot work of quarno-bootup-service: with nobody logged in, bring the FTP
// server and its HTTP serving back to what the user last registered. It takes
// the FTP port offline, waits for the network, checks that the gateway is the
// maker's router, asks the DDNS server what is registered for the router's
// MAC, reads the router's UPnP table, reconciles both with the stored
// settings, and then starts the servers or first renews mappings and
// registration (up to five attempts). One result code says how it ended.
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/netinfo.h"
#include "registration/mapping_healer.h"
#include "registration/renew_registration.h"
#include "service/boot_system.h"

namespace quarno {

enum BootResult : int {
  kBootOk = 0,                  // servers started, or registration renewed (even when it failed)
  kBootFtpService = 1,          // FTP server service missing or not running within the wait
  kBootNoNetwork = 2,           // no usable network within the tries
  kBootNotOurRouter = 3,        // gateway is not the maker's router or unreachable
  kBootDdnsUnresolved = 4,      // DDNS server name not resolved
  kBootNotRegistered = 5,       // nothing registered for the router's MAC
  kBootNoUpnp = 6,              // no UPnP gateway
  kBootIncompleteSettings = 7,  // stored settings incomplete
  kBootOtherPcNoMapping = 8,    // no mapping and the stored registration differs from DDNS
  kBootFtpPortTaken = 9,        // stored FTP port used by another program
  kBootOtherPcMapping = 10,     // the server's FTP mapping points at another PC
};

// Every wait and fixed pause of the sequence (the product's defaults), so the
// lab and the tests can run it quickly.
struct LauncherOptions {
  std::chrono::milliseconds ftp_service_wait{60000};
  std::chrono::milliseconds ftp_service_poll{250};
  int network_tries = 180;
  std::chrono::milliseconds network_interval{1000};
  std::chrono::milliseconds settle_after_start{5000};  // before the router's DDNS setting
  std::chrono::milliseconds settle_after_renew{3000};  // before mapping a new port
  std::chrono::milliseconds short_pause{10};
  std::chrono::milliseconds ftp_port_open_wait{5000};
  std::chrono::milliseconds ftp_port_poll{10};
  int renew_attempts = 5;
  uint16_t renew_port_low = 35001;
  uint16_t renew_port_high = 65535;  // excluded
  // After the boot work, while the service runs: the check of the mappings.
  std::chrono::milliseconds heal_period{300000};
  std::chrono::milliseconds heal_poll{5000};
};

class CServerLauncher : private RegistrationServers, public ExternalAddressListener {
 public:
  CServerLauncher(BootSystem system, LauncherOptions options = {});
  virtual ~CServerLauncher();

  // The whole sequence; a BootResult.
  int RunBootSequence();
  // Set by WriteFtpServerConfig; what the shell records as ADMIN_PORT.
  int AdminPort() const { return admin_port_; }
  // What the servers serve and the router maps for them once the sequence
  // has started them; nullopt when it ended without serving (or a renewal
  // failed and took the mappings away).
  std::optional<ServedMappings> Serving() const;
  // The router's WAN address changed: the full configuration file again, with
  // the new passive address, then code 200; ADMIN_PORT follows the new file.
  bool ExternalAddressChanged(const std::string& address) override;

  // The steps, public so each can be exercised on its own.
  int WaitForFtpService();
  bool WaitForNetwork();
  bool CheckRouterAtBoot();
  int RestoreServer();
  enum class Mode { kNoMapping, kThisPc };
  struct Reconciled {
    int verdict = 0;  // 1 go on, 2 registered from another PC
    bool ftp_port_taken = false;
  };
  Reconciled ReconcileRegistration(Mode mode);
  bool RenewRegistration();
  void StartServers();

  // State, readable by tests and the bench.
  const std::string& Gateway() const { return gateway_; }
  const std::string& LocalAddress() const { return local_address_; }
  const platform::MacAddress& RouterMac() const { return router_mac_; }
  int FtpPort() const { return ftp_port_; }
  int HttpPort() const { return http_port_; }
  const std::string& StoredHttpPort() const { return stored_http_port_; }

 private:
  // RegistrationServers: what the renewal does around each attempt.
  void StopServing() override;
  void StartServing(int ftp_port, int http_port) override;

  void ControlOrLog(ftpctl::ControlCode code, const char* failure_line);
  // The passive ports of the FTP port, mapped beside an FTP mapping the router kept.
  void MapPassiveRange();
  ftpctl::PassiveMode PassiveMode();
  std::optional<std::string> Setting(const char* name);
  std::string DdnsName() const;

  BootSystem system_;
  LauncherOptions options_;

  std::string gateway_;
  std::string local_address_;
  platform::MacAddress router_mac_{};
  std::string ddns_host_, ddns_email_, ddns_ftp_port_, ddns_http_port_;
  UpnpControlPoint upnp_;
  MappingClass classification_ = kNoUpnpGateway;
  int admin_port_ = 0;
  std::string external_address_;
  bool serving_ = false;
  bool renewal_failed_ = false;
  int ftp_port_ = 0;
  int http_port_ = 0;
  std::string stored_name_, stored_email_, stored_ftp_port_, stored_http_port_;
  ftpctl::FtpServerAccount account_;
};

}  // namespace quarno
