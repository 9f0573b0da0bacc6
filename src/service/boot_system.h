#pragma once
// Everything the boot-time launcher does to the world outside its own logic:
// settings, the FTP server service, network facts, the DDNS server, the UPnP
// gateway and the router's DDNS setting. The launcher talks only to this
// interface; MakeBootSystem() wires it to the real clients, tests to fakes.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/netinfo.h"
#include "platform/service_manager.h"

namespace quarno {

inline constexpr char kServerFtpDescription[] = "Quarno_Server_FTP";
inline constexpr char kServerHttpDescription[] = "Quarno_Server_HTTP";

// One port mapping as the gateway sees it (six texts, like the list records).
struct PortMapping {
  std::string external_port;
  std::string protocol;
  std::string internal_port;
  std::string internal_client;
  std::string enabled;
  std::string description;
};

// Where the gateway takes its control requests, and the external ports of the
// server's mappings that the classification found (filled by the gateway).
struct UpnpFacts {
  std::string upnp_port;    // decimal
  std::string control_url;
  std::string ftp_port;     // overwritten only when a server FTP mapping exists
  std::string http_port;    // overwritten only by this PC's server HTTP mapping
};

// The values WriteFtpServerConfig builds the full configuration file from.
struct FtpServerAccount {
  std::string user;
  std::string password;
  std::string shared_folder;
  std::string charset;
};

class BootSystem {
 public:
  virtual ~BootSystem() = default;

  // --- settings key ---
  virtual bool ReadSetting(std::string_view name, std::string& value) = 0;
  virtual bool WriteRegistration(std::string_view host, std::string_view email,
                                 std::string_view ftp_port, std::string_view http_port) = 0;
  virtual bool WriteSetting(std::string_view name, std::string_view value) = 0;

  // --- the FTP server service "Quarno_Server" ---
  virtual bool OpenFtpService() = 0;  // exists and can be controlled
  virtual platform::ServiceState QueryFtpService() = 0;
  virtual bool ControlFtpService(int code) = 0;
  // The configuration file with only "Serverports" 0: the FTP port closed.
  virtual bool WriteClosedFtpConfig() = 0;
  // Home folder, share link and the full configuration file; returns the new
  // admin port (0 when none was free), chosen even when the file failed.
  virtual int WriteFtpServerConfig(const FtpServerAccount& account,
                                   const platform::MacAddress& mac, int ftp_port) = 0;

  // --- network facts ---
  // An adapter with an address and a gateway while the network is alive.
  virtual bool NetworkReady() = 0;
  virtual bool BestGateway(std::string& gateway) = 0;
  // The address of the first adapter whose gateway is `gateway`.
  virtual bool LocalAddressFor(const std::string& gateway, std::string& local) = 0;
  virtual bool ResolveMac(const std::string& gateway, platform::MacAddress& mac) = 0;
  virtual bool IsPortFree(uint16_t port) = 0;
  virtual uint16_t PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) = 0;

  // --- DDNS registration server ---
  virtual std::string ResolveDdnsServer() = 0;  // dotted, empty on failure
  virtual void SetDdnsServerAddress(const std::string& dotted) = 0;
  virtual std::string GetByMac(const platform::MacAddress& mac) = 0;
  virtual std::string RegisterHost(const std::string& email, const std::string& name,
                                   const platform::MacAddress& mac, int ftp_port,
                                   int http_port) = 0;
  virtual bool DeleteHost(const std::string& email, const std::string& name,
                          const platform::MacAddress& mac) = 0;

  // --- UPnP gateway (the list of the last reading is kept inside) ---
  // -1 no gateway, 0 no server FTP mapping, 1 this PC's, 2 another PC's.
  virtual int ClassifyServerMapping(const std::string& gateway, const std::string& local,
                                    UpnpFacts& facts) = 0;
  virtual int ListPortMappings(const std::string& gateway, const UpnpFacts& facts) = 0;
  virtual void RemoveServerMappings(const std::string& gateway, const UpnpFacts& facts) = 0;
  // 0 on success, else the gateway's error code (or -1 when no answer came).
  virtual int AddPortMapping(const std::string& gateway, const UpnpFacts& facts,
                             const PortMapping& mapping) = 0;
  virtual int DeletePortMapping(const std::string& gateway, const UpnpFacts& facts,
                                const PortMapping& mapping) = 0;

  // --- the router's own DDNS setting ---
  virtual std::string SetRouterDdns(const std::string& gateway, const std::string& name,
                                    const std::string& email, const std::string& ftp_port,
                                    const std::string& http_port) = 0;

  // --- time ---
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  virtual std::chrono::steady_clock::time_point Now() = 0;
};

// Time-outs of the real clients that the boot service uses.
struct BootSystemOptions {
  uint16_t ddns_port = 80;
  uint16_t router_port = 80;
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds receive_timeout{15000};
  // The UPnP exchange waits as long as the program's own (15 s); a 10 ms wait
  // fails against any router that takes longer than that to answer.
  std::chrono::milliseconds upnp_receive_timeout{15000};
  std::chrono::milliseconds control_timeout{10000};
};

// The real world: settings store, service manager, /proc, the peers' clients.
std::unique_ptr<BootSystem> MakeBootSystem(const BootSystemOptions& options = {});

}  // namespace quarno
