#include "ftpctl/ftp_server.h"

#include "ftpctl/admin_auth.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/log.h"
#include "core/netprobe.h"
#include "ftpctl/account.h"
#include "platform/event_socket.h"
#include "platform/files.h"
#include "platform/links.h"
#include "platform/paths.h"
#include "share/home_tree.h"

namespace quarno::ftpctl {
namespace {

namespace xml = config_xml;

std::string Tag(const char* element) { return std::string("<") + element + ">"; }
std::string EndTag(const char* element) { return std::string("</") + element + ">"; }

// <Option Name="name">value</Option>, as users and permissions carry them.
std::string NamedOption(const char* name, std::string_view value) {
  return std::string("<") + xml::kOption + " " + xml::kName + "=\"" + name + "\">" +
         std::string(value) + EndTag(xml::kOption);
}

// <Item name="..." type="string|numeric">value</Item> of option `number`.
std::string Item(int number, std::string_view value) {
  const OptionDef& option = kOptionTable[number - 1];
  return std::string("<") + xml::kItem + " " + xml::kItemName + "=\"" + option.name + "\" " +
         xml::kItemType + "=\"" + (option.type == OptionType::kString ? "string" : "numeric") +
         "\">" + std::string(value) + EndTag(xml::kItem);
}

std::string SettingsFile(const std::string& items) {
  return Tag(xml::kRoot) + Tag(xml::kSettings) + items + EndTag(xml::kSettings) + EndTag(xml::kRoot);
}

void AppendPermission(std::string& out, std::string_view dir, const char digits[11]) {
  out += std::string("<") + xml::kPermission + " " + xml::kDir + "=\"" + XmlEscape(dir) + "\">";
  for (int i = 0; i < xml::kRightCount; ++i) out += NamedOption(xml::kRights[i], {&digits[i], 1});
  out += EndTag(xml::kPermission);
}

// The admin port range overlaps Linux's ephemeral ports, whose closing
// connections do not show as taken; a few more draws find one that the
// server can really open.
uint16_t ChooseAdminPort() {
  uint16_t port = 0;
  for (int attempt = 0; attempt < 16; ++attempt) {
    port = PickFreePort(kAdminPortLow, kAdminPortHigh);
    if (port == 0 || platform::CanListenTcp("127.0.0.1", port)) return port;
  }
  return port;
}

}  // namespace

std::string FtpServerExecutablePath() {
  return platform::ProgramFolder() + "/" + kFtpServerExecutable;
}

std::string FtpConfigFilePath() { return platform::WritableFolder() + "/" + kFtpConfigFileName; }

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string MinimalFtpServerConfig(uint16_t admin_port) {
  return SettingsFile(Item(OPTION_ADMINPORT, std::to_string(admin_port)));
}

std::string PortClosedFtpServerConfig() { return SettingsFile(Item(OPTION_SERVERPORT, "0")); }

bool WriteFtpPortClosedConfig() {
  return platform::ReplaceFile(FtpConfigFilePath(), PortClosedFtpServerConfig(), 0600);
}

std::string BuildFtpServerConfig(const FtpAccountValues& account, std::string_view home_folder,
                                 std::string_view share_path, uint16_t admin_port) {
  std::string out = Tag(xml::kRoot) + Tag(xml::kUsers) + "<" + xml::kUser + " " + xml::kName +
                    "=\"" + XmlEscape(account.user) + "\">";
  out += NamedOption(xml::kPass, PasswordHash(account.password));
  out += NamedOption(xml::kUserLimit, "0") + "\n";
  out += NamedOption(xml::kEnabled, "1");
  out += Tag(xml::kPermissions);
  AppendPermission(out, home_folder, "0000001110");
  AppendPermission(out, share_path, "1111111100");
  out += EndTag(xml::kPermissions) + EndTag(xml::kUser) + EndTag(xml::kUsers) + Tag(xml::kSettings);
  out += Item(OPTION_SERVERPORT, std::to_string(account.ftp_port));
  out += Item(OPTION_WELCOMEMESSAGE,
              "Ralmek_FTPD &amp;&amp; Host-AB1222 " + FormatMacTail(account.router_mac));
  out += Item(OPTION_ADMINPORT, std::to_string(admin_port));
  out += Item(OPTION_MAXUSERS, "0");
  out += Item(OPTION_TIMEOUT, "300");
  out += Item(OPTION_NOTRANSFERTIMEOUT, "0");
  if (account.passive.configured()) {
    const PassiveMode& passive = account.passive;
    out += Item(OPTION_USECUSTOMPASVPORT, "1");
    out += Item(OPTION_CUSTOMPASVMINPORT, std::to_string(passive.low_port));
    out += Item(OPTION_CUSTOMPASVMAXPORT, std::to_string(passive.high_port));
    if (!passive.external_address.empty()) {
      out += Item(OPTION_CUSTOMPASVIPTYPE, "1");
      out += Item(OPTION_CUSTOMPASVIP, XmlEscape(passive.external_address));
    }
  }
  out += EndTag(xml::kSettings) + EndTag(xml::kRoot);
  return out;
}

bool PrepareFtpServer(std::string& ftp_server_path, uint16_t& admin_port) {
  std::string exe = FtpServerExecutablePath();
  ftp_server_path = exe;
  std::error_code ec;
  if (!std::filesystem::exists(exe, ec)) return false;
  uint16_t port = ChooseAdminPort();
  // Not reported: the server then starts with its defaults and the port is
  // still the one the client will try.
  if (!platform::ReplaceFile(FtpConfigFilePath(), MinimalFtpServerConfig(port), 0600)) {
    WriteLog("FTP server configuration file could not be written: %s", FtpConfigFilePath().c_str());
  }
  admin_port = port;
  return true;
}

bool WriteFtpServerConfig(const FtpAccountValues& account, uint16_t& admin_port) {
  std::string config_path = FtpConfigFilePath();
  std::string home = platform::HomeFolder();
  if (!platform::MakeDirs(home)) {
    WriteLog("Root Directory 생성에 실패하였습니다.");
    return false;
  }
  std::string share_path = share::JunctionPath(account.shared_folder);
  if (share_path.empty()) {
    WriteLog("shared folder \"%s\" names no folder to link", account.shared_folder.c_str());
    return false;
  }
  if (!platform::CreateDirLink(share_path, account.shared_folder)) {
    WriteLog("share link %s -> %s could not be made", share_path.c_str(),
             account.shared_folder.c_str());
  }
  admin_port = ChooseAdminPort();
  if (!platform::ReplaceFile(config_path,
                             BuildFtpServerConfig(account, home, share_path, admin_port), 0600)) {
    WriteLog("XML 설정파일 생성에 실패하였습니다.");
    return false;
  }
  return true;
}

bool StartFtpService(platform::ServiceManager& manager, const std::string& ftp_server_path,
                     std::chrono::milliseconds wait_limit) {
  using platform::ServiceState;
  if (manager.Exists(kFtpServiceName)) {
    if (manager.Query(kFtpServiceName) != ServiceState::kStopped) {
      manager.Stop(kFtpServiceName);
      if (!platform::WaitForServiceState(manager, kFtpServiceName, ServiceState::kStopped,
                                         wait_limit)) {
        WriteLog("FTP server service did not stop");
        return false;
      }
    }
    platform::ServiceConfig config;
    if (manager.QueryConfig(kFtpServiceName, config) && config.executable != ftp_server_path) {
      config.executable = ftp_server_path;
      if (!manager.ChangeConfig(config)) WriteLog("FTP server service path not corrected");
    }
  } else {
    platform::ServiceConfig config{kFtpServiceName, kFtpServiceDisplayName, ftp_server_path,
                                   platform::StartType::kOnDemand};
    if (!manager.Create(config)) {
      WriteLog("FTP server service could not be created");
      return false;
    }
  }
  // A fresh secret for the run the daemon is about to begin; a daemon that
  // still runs keeps reading the file, so it goes on with the new one.
  if (!WriteNewAdminSecret()) WriteLog("FTP admin secret could not be written");
  bool already_running = false;
  if (!manager.Start(kFtpServiceName, &already_running) && !already_running) {
    WriteLog("FTP server service could not be started");
    return false;
  }
  if (already_running) SendFtpControl(manager, kControlStartFtp);
  if (!platform::WaitForServiceState(manager, kFtpServiceName, ServiceState::kRunning,
                                     wait_limit)) {
    WriteLog("FTP server service did not reach running");
    return false;
  }
  return true;
}

void StopFtpService(platform::ServiceManager& manager) {
  if (manager.Exists(kFtpServiceName) &&
      manager.Query(kFtpServiceName) != platform::ServiceState::kStopped) {
    manager.Stop(kFtpServiceName);
  }
}

bool SendFtpControl(platform::ServiceManager& manager, int code,
                    std::chrono::milliseconds timeout) {
  return manager.Control(kFtpServiceName, code, timeout);
}

ServiceFtpServerControl::ServiceFtpServerControl(std::unique_ptr<platform::ServiceManager> manager,
                                                 std::chrono::milliseconds control_timeout,
                                                 std::chrono::milliseconds start_wait)
    : manager_(std::move(manager)), control_timeout_(control_timeout), start_wait_(start_wait) {}

bool ServiceFtpServerControl::ServiceExists() {
  return manager_ && manager_->Exists(kFtpServiceName);
}

platform::ServiceState ServiceFtpServerControl::QueryService() {
  return manager_ ? manager_->Query(kFtpServiceName) : platform::ServiceState::kUnknown;
}

bool ServiceFtpServerControl::Control(ControlCode code) {
  return manager_ && SendFtpControl(*manager_, code, control_timeout_);
}

bool ServiceFtpServerControl::WritePortClosedConfig() { return WriteFtpPortClosedConfig(); }

FtpConfigResult ServiceFtpServerControl::WriteServerConfig(const FtpServerAccount& account,
                                                           const platform::MacAddress& router_mac,
                                                           int ftp_port,
                                                           const PassiveMode& passive) {
  FtpAccountValues values;
  values.user = account.user;
  values.password = account.password;
  values.shared_folder = account.shared_folder;
  values.ftp_port = ftp_port;
  values.router_mac = router_mac;
  values.passive = passive;
  FtpConfigResult result;
  result.written = WriteFtpServerConfig(values, result.admin_port);
  return result;
}

std::optional<PreparedFtpServer> ServiceFtpServerControl::Prepare() {
  PreparedFtpServer prepared;
  if (!PrepareFtpServer(prepared.executable, prepared.admin_port)) return std::nullopt;
  return prepared;
}

bool ServiceFtpServerControl::StartService(const std::string& executable) {
  return manager_ && StartFtpService(*manager_, executable, start_wait_);
}

void ServiceFtpServerControl::StopService() {
  if (manager_) StopFtpService(*manager_);
}

}  // namespace quarno::ftpctl
