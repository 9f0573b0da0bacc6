#pragma once
// What the main window's workflows ask of the world, one small interface per
// capability so a test fakes only what it drives. The subsystems' own
// capabilities (DDNS registry, port mapper, router, settings, network facts,
// the FTP server's service) come from beside each subsystem; the few that
// only this window uses are declared here. RealWorld (real_capabilities.h)
// wires them all.
#include <cstdint>
#include <string>
#include <vector>

#include "core/network_facts.h"
#include "core/settings_store.h"
#include "ddns/ddns_registry.h"
#include "ftpctl/account.h"
#include "ftpctl/connection_list.h"
#include "ftpctl/ftp_server_control.h"
#include "ftpctl/general_option.h"
#include "ftpctl/server_interface.h"
#include "platform/netinfo.h"
#include "router/router_access.h"
#include "upnp/port_mapper.h"

namespace quarno::ui {

// The FTP server's administration connection, owned by the window.
class AdminChannel {
 public:
  virtual ~AdminChannel() = default;
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
  // "https://<host>:<port>/httpstream/<token>/<share>/", the token made from
  // the account with the installation's secret; empty when it cannot be made.
  virtual std::string ShareLink(const std::string& host, const std::string& port,
                                const std::string& user, const std::string& password,
                                const std::string& share) = 0;
};

// What a folder text is, for the account's folder rules.
enum class FolderKind {
  kFolder,   // an existing folder
  kInvalid,  // nothing there (or not a folder) and no usable place for it
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
  // The mapping healer's own, on its own thread: a check never mixes into the
  // mapping list a workflow has just read.
  PortMapper* heal_mapper = nullptr;
  RouterAccess* router = nullptr;
  class SettingsStore* settings = nullptr;  // "class": settings.h has a function of that name
  NetworkFacts* network = nullptr;
  ftpctl::FtpServerControl* ftp_service = nullptr;
  AdminChannel* admin = nullptr;
  HttpServing* http = nullptr;
  ShareTree* share = nullptr;
  Firewall* firewall = nullptr;
};

}  // namespace quarno::ui
