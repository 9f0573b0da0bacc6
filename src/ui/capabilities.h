#pragma once
// What the main window's workflows ask of the world, one small interface per
// capability so a test fakes only what it drives. MakeRealCapabilities()
// (real_capabilities.cc) wires them to the subsystems.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/messages.h"
#include "ftpctl/account.h"
#include "ftpctl/connection_list.h"
#include "ftpctl/general_option.h"
#include "ftpctl/server_interface.h"
#include "platform/netinfo.h"

namespace quarno::ui {

// The DDNS registration server (answers as the client returns them).
class DdnsRegistry {
 public:
  virtual ~DdnsRegistry() = default;
  // Resolves the server's name once; the dotted address, empty on failure.
  virtual std::string Resolve() = 0;
  virtual void SetServerAddress(const std::string& dotted) = 0;
  virtual std::string GetByMac(const platform::MacAddress& mac) = 0;
  virtual std::string RegisterHost(const std::string& email, const std::string& name,
                                   const platform::MacAddress& mac, int ftp_port,
                                   int http_port) = 0;
  virtual bool DeleteHost(const std::string& email, const std::string& name,
                          const platform::MacAddress& mac) = 0;
};

struct Mapping {
  std::string external_port;
  std::string internal_client;
  std::string description;
};

// The router's UPnP port mappings. The control point found by Classify is
// kept inside for the later calls.
class PortMapper {
 public:
  virtual ~PortMapper() = default;
  // -1 no gateway, 0 no "Quarno_Server_FTP" mapping, 1 this PC's, 2 another PC's;
  // `ftp_port` / `http_port` take the external ports found (see the rule in
  // the registration decision) and keep their value otherwise.
  virtual int Classify(const std::string& gateway, const std::string& local, std::string& ftp_port,
                       std::string& http_port) = 0;
  // Reads the table again; the mappings (empty when it failed).
  virtual std::vector<Mapping> List(const std::string& gateway) = 0;
  // Deletes every listed mapping described as the server's, whatever PC it names.
  virtual void RemoveServerMappings(const std::string& gateway) = 0;
  // 0 on success, else the gateway's error code or -1.
  virtual int Add(const std::string& gateway, int port, const std::string& description,
                  const std::string& local) = 0;
  virtual int Delete(const std::string& gateway, int port) = 0;
};

// The router's own DDNS setting; its answer.
class RouterDdns {
 public:
  virtual ~RouterDdns() = default;
  virtual std::string Set(const std::string& gateway, const std::string& name,
                          const std::string& email, const std::string& ftp_port,
                          const std::string& http_port) = 0;
};

// The settings key.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual bool Read(const std::string& name, std::string& value) = 0;
  virtual bool WriteRegistration(const std::string& name, const std::string& email,
                                 const std::string& ftp_port, const std::string& http_port) = 0;
  virtual bool WriteAccount(const std::string& user, const std::string& password,
                            const std::string& folder, const std::string& charset) = 0;
  virtual bool Write(const std::string& name, const std::string& value) = 0;
};

class Ports {
 public:
  virtual ~Ports() = default;
  virtual bool IsPortFree(uint16_t port) = 0;
  // A free port in [low, high) other than `excluded`; 0 when none.
  virtual uint16_t PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) = 0;
};

// The FTP server's service and its administration connection.
class FtpServer {
 public:
  virtual ~FtpServer() = default;
  // Connects and authenticates on the admin port (posting WM_FATAL_START_ERROR 2
  // to the window on failure, as the admin client does).
  virtual ftpctl::SetUpResult SetUp(int admin_port) = 0;
  virtual bool SendOptions(const ftpctl::CGeneralOption& options) = 0;
  virtual bool SendServerState(uint16_t state) = 0;
  virtual bool SendAccounts(const ftpctl::CUserSetting& accounts) = 0;
  virtual bool SendKeepAlive() = 0;
  // The last state word the server reported.
  virtual uint16_t ServerState() = 0;
  virtual std::vector<ftpctl::ConnectionInfo> Connections() = 0;
  // A control code to the service "Quarno_Server"; false when undeliverable.
  virtual bool Control(int code) = 0;
  // Asks the service to stop when it is not stopped; does not wait.
  virtual void StopService() = 0;
};

// The built-in HTTP server.
class HttpServing {
 public:
  virtual ~HttpServing() = default;
  virtual bool Start(const std::string& port_text) = 0;
  virtual void Stop() = 0;
  virtual bool Running() = 0;
  virtual void SetCharsetUtf8(bool utf8) = 0;
  virtual void SetRouterMac(const platform::MacAddress& mac) = 0;
};

// What a folder text is, for the account's folder rules.
enum class FolderKind {
  kFolder,   // an existing folder
  kInvalid,  // nothing there and no usable place for it
  kNetwork,  // on a network file system
  kCdrom,    // on an optical disc
};

// The share link under the home folder and the folder checks.
class ShareTree {
 public:
  virtual ~ShareTree() = default;
  // Re-points the share link and appends the account record; false when the
  // folder yields no link name.
  virtual bool LinkSharedFolder(const std::string& user, const std::string& password,
                                const std::string& folder, ftpctl::CUserSetting& accounts) = 0;
  virtual FolderKind Classify(const std::string& folder) = 0;
  virtual std::string HomeFolder() = 0;
  // The path the share link of `folder` has under the home folder.
  virtual std::string JunctionPath(const std::string& folder) = 0;
  virtual void SetCurrentJunctionPath(const std::string& path) = 0;
  // Removes the current share link and waits for the link work.
  virtual void RemoveCurrentJunction() = 0;
};

// The desktop's firewall: tells the user which ports to open, changes nothing.
class Firewall {
 public:
  virtual ~Firewall() = default;
  virtual void Check(const std::vector<int>& ports) = 0;
};

struct Capabilities {
  DdnsRegistry* ddns = nullptr;
  PortMapper* mapper = nullptr;
  RouterDdns* router = nullptr;
  SettingsStore* settings = nullptr;
  Ports* ports = nullptr;
  FtpServer* ftp = nullptr;
  HttpServing* http = nullptr;
  ShareTree* share = nullptr;
  Firewall* firewall = nullptr;
};

}  // namespace quarno::ui
