#include "service/server_launcher.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "platform/tcp_socket.h"
#include "platform/trace.h"

namespace quarno {

namespace {

using std::chrono::milliseconds;

constexpr int kControlStartFtp = 200;
constexpr int kControlStartHttp = 190;
constexpr int kControlStopHttp = 191;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Splits at ";" and drops empty fields, as the DDNS answers are read.
std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

int ToInt(const std::string& text) { return std::atoi(text.c_str()); }

std::string MacTail(const platform::MacAddress& mac) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", mac[3], mac[4], mac[5]);
  return text;
}

bool PortTextSet(const std::string& text) { return !text.empty() && text != "0"; }

}  // namespace

CServerLauncher::CServerLauncher(BootSystem& system, LauncherOptions options)
    : system_(system), options_(options) {}

CServerLauncher::~CServerLauncher() = default;

int CServerLauncher::RunBootSequence() {
  if (int result = WaitForFtpService(); result != kBootOk) return result;
  if (!WaitForNetwork()) return kBootNoNetwork;
  if (!CheckRouterAtBoot()) {
    WriteLog("Ralmek 공유기와의 통신에 실패하였습니다. Ralmek 공유기가 맞는지 확인하여 주시기 바랍니다.");
    return kBootNotOurRouter;
  }
  WriteLog("Ralmek 공유기 확인에 성공했습니다.");
  return RestoreServer();
}

int CServerLauncher::WaitForFtpService() {
  if (!system_.OpenFtpService()) {
    WriteLog("FTP Server 실행에 실패하였습니다.");
    return kBootFtpService;
  }
  if (system_.QueryFtpService() == platform::ServiceState::kRunning) {
    WriteLog("FTP 서버가 실행중입니다.");
  } else {
    WriteLog("FTP 서버가 실행되기를 기다리고 있습니다.");
    const auto start = system_.Now();
    for (;;) {
      system_.Sleep(options_.ftp_service_poll);
      if (system_.QueryFtpService() == platform::ServiceState::kRunning) break;
      if (system_.Now() - start >= options_.ftp_service_wait) {
        WriteLog("FTP Server 실행에 실패하였습니다.");
        return kBootFtpService;
      }
    }
  }
  WriteLog("FTP 서버가 실행 되었습니다.");
  return kBootOk;
}

bool CServerLauncher::WaitForNetwork() {
  for (int i = 0; i < options_.network_tries; ++i) {
    const bool ready = system_.NetworkReady();
    system_.Sleep(options_.network_interval);
    if (ready) return true;
  }
  return false;
}

bool CServerLauncher::CheckRouterAtBoot() {
  platform::Trace("isRalmek_CONNECTED ~@@@@@");
  if (!system_.BestGateway(gateway_)) return false;
  if (std::string local; system_.LocalAddressFor(gateway_, local)) {
    WriteLog("기본 게이트웨이: %s, IP주소: %s", gateway_.c_str(), local.c_str());
    local_address_ = local;
  }
  if (!system_.ResolveMac(gateway_, router_mac_)) return false;

  platform::TcpSocket socket;
  if (!socket.Connect(gateway_, options_.router_port, options_.router_connect_timeout)) {
    return false;
  }
  WriteLog("게이트웨이와 Connection 성공");
  if (!socket.Send("GET /checkup HTTP/1.1\r\n\r\n")) return false;
  std::string answer;
  if (socket.Recv(answer, 255, options_.router_receive_timeout) <= 0) return false;
  std::string more;
  if (socket.Peek(more, 255, options_.router_receive_timeout) > 0 &&
      socket.Recv(more, 255, options_.router_receive_timeout) > 0) {
    answer += more;
  }
  socket.SetLingerZero();
  socket.Close();

  answer = Lower(answer);
  const std::size_t line_end = answer.find("\r\n");
  if (line_end == std::string::npos) return false;
  return answer.substr(0, line_end).find("200 ok") != std::string::npos;
}

int CServerLauncher::RestoreServer() {
  // The port is closed only once the server has taken up the file: an ERR
  // answer leaves it serving the last good one.
  if (system_.WriteClosedFtpConfig() && system_.ControlFtpService(kControlStartFtp)) {
    WriteLog("FTP 서버 포트 초기화 설정에 성공하였습니다.");
  } else {
    WriteLog("FTP 서버 포트 초기화 설정에 실패하였습니다.");
  }

  const std::string ddns_address = system_.ResolveDdnsServer();
  if (ddns_address.empty()) return kBootDdnsUnresolved;
  system_.SetDdnsServerAddress(ddns_address);
  WriteLog("DDNS Server IP얻기에 성공하였습니다.");

  const std::string answer = system_.GetByMac(router_mac_);
  WriteLog("DDNS에 등록된 정보 : %s", answer.c_str());
  if (answer.empty() || Lower(answer) == "null") {
    WriteLog("DDNS 서버에 등록되어 있지 않습니다.");
    return kBootNotRegistered;
  }
  const std::vector<std::string> fields = SplitFields(answer);
  std::string* targets[] = {&ddns_host_, &ddns_email_, &ddns_ftp_port_, &ddns_http_port_};
  for (std::size_t i = 0; i < fields.size() && i < 4; ++i) *targets[i] = fields[i];

  upnp_.ftp_port = ddns_ftp_port_;
  upnp_.http_port = ddns_http_port_;
  classification_ = system_.ClassifyServerMapping(gateway_, local_address_, upnp_);
  ddns_ftp_port_ = upnp_.ftp_port;
  ddns_http_port_ = upnp_.http_port;
  if (classification_ < 0 || classification_ > 2) {
    WriteLog("UPnP 포트 포워드 리스트를 가져 오지 못하였습니다. Ralmek 공유기의 UPnP 기능이 활성화 되어 있는지 확인하시기 바랍니다.");
    return kBootNoUpnp;
  }
  system_.ListPortMappings(gateway_, upnp_);

  if (classification_ == 0 || classification_ == 1) {
    std::string value;
    const char* required[] = {setting::kFtpUser, setting::kFtpPassword,
                              setting::kFtpSharedFolder, setting::kFtpPort, setting::kHttpPort};
    for (const char* name : required) {
      if (!system_.ReadSetting(name, value)) {
        WriteLog("서버를 실행하기 위한 정보가 준비되어 있지 않습니다.");
        return kBootIncompleteSettings;
      }
    }
    WriteLog("서버를 실행하기 위한 정보가 준비되어 있습니다.");
  }

  if (classification_ == 0) {
    WriteLog("UPNP 포트 포워드 리스트에 Quarno Server 등록정보가 없습니다.");
    WriteLog("레지스트리에 등록된 정보를 확인합니다.");
    if (ReconcileRegistration(Mode::kNoMapping).verdict == 1) {
      if (RenewRegistration()) {
        WriteLog("Upnp 포트 포워드 리스트에 정보가 없어, 재등록 시도 성공했습니다. 서버를 시작합니다.");
      } else {
        WriteLog("Upnp 포트 포워드 리스트에 정보가 없어, 재등록 시도 중 실패하였습니다.");
      }
      return kBootOk;
    }
    WriteLog("다른 PC에 등록되어 있습니다. UPnP 포트 포워드 리스트와 레지스트리에 정보가 없습니다.");
    return kBootOtherPcNoMapping;
  }

  if (classification_ == 1) {
    WriteLog("현재 PC에 등록되어 있습니다.");
    if (ReconcileRegistration(Mode::kThisPc).ftp_port_taken) {
      WriteLog("등록된 FTP Port [%d]가 다른 응용 프로그램에서 사용중입니다.", ftp_port_);
      return kBootFtpPortTaken;
    }
    if (PortTextSet(stored_ftp_port_) && PortTextSet(stored_http_port_)) {
      WriteLog("서버를 시작합니다. 1");
      StartServers();
      system_.Sleep(options_.settle_after_start);
      system_.SetRouterDdns(gateway_, stored_name_, stored_email_, stored_ftp_port_,
                            stored_http_port_);
    } else {
      WriteLog("서버를 시작합니다. 2");
      StartServers();
      system_.Sleep(options_.settle_after_start);
      system_.SetRouterDdns(gateway_, DdnsName(), ddns_email_, ddns_ftp_port_, ddns_http_port_);
    }
    return kBootOk;
  }

  WriteLog("다른 PC에 등록되어 있습니다.");
  return kBootOtherPcMapping;
}

CServerLauncher::Reconciled CServerLauncher::ReconcileRegistration(Mode mode) {
  Reconciled result;
  stored_name_.clear();
  const bool has_name = system_.ReadSetting(setting::kQuarno, stored_name_) && !stored_name_.empty();
  // The account is read before anything may start the servers, so a renewal
  // never writes a configuration file without it.
  auto read_account = [&](bool with_charset) {
    system_.ReadSetting(setting::kFtpUser, account_.user);
    system_.ReadSetting(setting::kFtpPassword, account_.password);
    system_.ReadSetting(setting::kFtpSharedFolder, account_.shared_folder);
    if (with_charset) system_.ReadSetting(setting::kFtpCharset, account_.charset);
  };

  if (!has_name) {
    if (mode == Mode::kNoMapping) {
      result.verdict = 2;
      return result;
    }
    ftp_port_ = ToInt(ddns_ftp_port_);
    http_port_ = ToInt(ddns_http_port_);
    system_.WriteRegistration(DdnsName(), ddns_email_, ddns_ftp_port_, ddns_http_port_);
    read_account(false);
    result.verdict = 1;
    return result;
  }

  if (std::string text; system_.ReadSetting(setting::kFtpPort, text) && !text.empty()) {
    stored_ftp_port_ = text;
    ftp_port_ = ToInt(text);
  }
  if (std::string text; system_.ReadSetting(setting::kHttpPort, text) && !text.empty()) {
    stored_http_port_ = text;
    http_port_ = ToInt(text);
  }
  system_.ReadSetting(setting::kEmail, stored_email_);

  if (mode == Mode::kNoMapping) {
    // Exact comparison: the DDNS answer is always lower case.
    if (stored_name_ != DdnsName() || stored_email_ != ddns_email_) {
      result.verdict = 2;
      return result;
    }
    if (ddns_ftp_port_ == "0" || ddns_http_port_ == "0") {
      stored_ftp_port_ = ddns_ftp_port_;
      stored_http_port_ = ddns_http_port_;
    }
    stored_name_ = DdnsName();
    stored_email_ = ddns_email_;
    read_account(true);
    system_.WriteRegistration(DdnsName(), ddns_email_, ddns_ftp_port_, ddns_http_port_);
    result.verdict = 1;
    return result;
  }

  if (!system_.IsPortFree(static_cast<uint16_t>(ftp_port_))) {
    result.ftp_port_taken = true;
    result.verdict = 1;
    return result;
  }
  read_account(true);
  if (!system_.IsPortFree(static_cast<uint16_t>(http_port_))) RenewRegistration();
  result.verdict = 1;
  return result;
}

bool CServerLauncher::RenewRegistration() {
  system_.ListPortMappings(gateway_, upnp_);
  system_.RemoveServerMappings(gateway_, upnp_);

  bool success = false;
  for (int attempt = 0;; ++attempt) {
    ControlOrLog(kControlStopHttp, "HTTP 서버 중지에 실패하였습니다.");
    system_.Sleep(options_.short_pause);
    if (attempt >= options_.renew_attempts) break;

    http_port_ = system_.PickFreePort(options_.renew_port_low, options_.renew_port_high,
                                      static_cast<uint16_t>(ftp_port_));
    stored_http_port_ = std::to_string(http_port_);
    StartServers();
    system_.Sleep(options_.settle_after_renew);

    const PortMapping ftp = ServerMapping(ftp_port_, kServerFtpDescription);
    const PortMapping http = ServerMapping(http_port_, kServerHttpDescription);
    system_.AddPortMapping(gateway_, upnp_, ftp);
    system_.AddPortMapping(gateway_, upnp_, http);

    platform::Trace("Quarno 등록 - 계정등록 %%%%%%%%%%");
    system_.Sleep(options_.short_pause);
    const std::string answer =
        system_.RegisterHost(stored_email_, stored_name_, router_mac_, ftp_port_, http_port_);
    platform::Trace("%s   %%%%%%%%%%", answer.c_str());

    if (answer.find("!yours") != std::string::npos ||
        answer.find("!badsys") != std::string::npos) {
      ControlOrLog(kControlStopHttp, "HTTP 서버 중지에 실패하였습니다.");
      break;
    }
    const std::vector<std::string> fields = SplitFields(answer);
    // As the DDNS client reads a registration answer: a missing third field
    // is not "0", a missing second one is no registration.
    success = fields.size() >= 2 && fields[0] == "good" && fields[1] != "0" &&
              (fields.size() < 3 || fields[2] != "0");
    if (success) {
      const std::string reply = system_.SetRouterDdns(gateway_, stored_name_, stored_email_,
                                                      stored_ftp_port_, stored_http_port_);
      platform::Trace("%s%%%%%%%%%%", reply.c_str());
      system_.WriteRegistration(stored_name_, stored_email_, std::to_string(ftp_port_),
                                std::to_string(http_port_));
      return true;
    }
    system_.DeletePortMapping(gateway_, upnp_, ftp);
    system_.DeletePortMapping(gateway_, upnp_, http);
  }

  ControlOrLog(kControlStopHttp, "HTTP 서버 중지에 실패하였습니다.");
  system_.DeleteHost(stored_email_, stored_name_, router_mac_);
  return false;
}

void CServerLauncher::StartServers() {
  system_.WriteSetting(setting::kBootHttp, std::to_string(http_port_));
  if (!system_.WriteSetting(setting::kMac, MacTail(router_mac_))) {
    WriteLog("MAC 주소를 레지스트리에 저장하는데 실패하였습니다.");
  }
  admin_port_ = system_.WriteFtpServerConfig(account_, router_mac_, ftp_port_);
  ControlOrLog(kControlStartFtp, "FTP 서버 시작에 실패하였습니다.");

  const auto start = system_.Now();
  for (;;) {
    if (!system_.IsPortFree(static_cast<uint16_t>(ftp_port_))) {
      WriteLog("Ftp 서버 포트가 open 되었습니다.");
      break;
    }
    if (system_.Now() - start >= options_.ftp_port_open_wait) break;
    system_.Sleep(options_.ftp_port_poll);
  }
  ControlOrLog(kControlStartHttp, "HTTP 서버 시작에 실패하였습니다.");
}

void CServerLauncher::ControlOrLog(int code, const char* failure_line) {
  if (!system_.ControlFtpService(code)) WriteLog("%s", failure_line);
}

PortMapping CServerLauncher::ServerMapping(int port, const char* description) const {
  const std::string text = std::to_string(port);
  return PortMapping{text, "TCP", text, local_address_, "1", description};
}

std::string CServerLauncher::DdnsName() const { return ddns_host_.substr(0, ddns_host_.find('.')); }

}  // namespace quarno
