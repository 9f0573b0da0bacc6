#include "service/server_launcher.h"

#include <cstdlib>

#include "core/log.h"
#include "core/netprobe.h"
#include "core/settings.h"
#include "platform/trace.h"

namespace quarno {

namespace {

using ftpctl::kControlStartFtp;
using ftpctl::kControlStartHttp;
using ftpctl::kControlStopHttp;

int ToInt(const std::string& text) { return std::atoi(text.c_str()); }

bool PortTextSet(const std::string& text) { return !text.empty() && text != "0"; }

}  // namespace

CServerLauncher::CServerLauncher(BootSystem system, LauncherOptions options)
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
  if (!system_.ftp.ServiceExists()) {
    WriteLog("FTP Server 실행에 실패하였습니다.");
    return kBootFtpService;
  }
  if (system_.ftp.QueryService() == platform::ServiceState::kRunning) {
    WriteLog("FTP 서버가 실행중입니다.");
  } else {
    WriteLog("FTP 서버가 실행되기를 기다리고 있습니다.");
    const auto start = system_.clock.Now();
    for (;;) {
      system_.clock.Sleep(options_.ftp_service_poll);
      if (system_.ftp.QueryService() == platform::ServiceState::kRunning) break;
      if (system_.clock.Now() - start >= options_.ftp_service_wait) {
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
    const bool ready = system_.network.NetworkReady();
    system_.clock.Sleep(options_.network_interval);
    if (ready) return true;
  }
  return false;
}

bool CServerLauncher::CheckRouterAtBoot() {
  platform::Trace("isRalmek_CONNECTED ~@@@@@");
  const std::optional<std::string> gateway = system_.network.DefaultGateway();
  if (!gateway) return false;
  gateway_ = *gateway;
  if (auto local = system_.network.LocalAddressFor(gateway_)) {
    WriteLog("기본 게이트웨이: %s, IP주소: %s", gateway_.c_str(), local->c_str());
    local_address_ = *local;
  }
  const std::optional<platform::MacAddress> mac = system_.network.GatewayMac(gateway_);
  if (!mac) return false;
  router_mac_ = *mac;
  return system_.router.Probe(gateway_).has_value();
}

int CServerLauncher::RestoreServer() {
  // The port is closed only once the server has taken up the file: an ERR
  // answer leaves it serving the last good one.
  if (system_.ftp.WritePortClosedConfig() && system_.ftp.Control(kControlStartFtp)) {
    WriteLog("FTP 서버 포트 초기화 설정에 성공하였습니다.");
  } else {
    WriteLog("FTP 서버 포트 초기화 설정에 실패하였습니다.");
  }
  // An FTP server kept from an earlier run of this service still serves HTTP
  // on the stored port: that port is ours again, not one in use by another
  // program (which would renew the registration on a new one).
  ControlOrLog(kControlStopHttp, "HTTP 서버 중지에 실패하였습니다.");

  if (!system_.ddns.LocateServer()) return kBootDdnsUnresolved;
  WriteLog("DDNS Server IP얻기에 성공하였습니다.");

  const DdnsLookup lookup = system_.ddns.LookupByMac(router_mac_);
  WriteLog("DDNS에 등록된 정보 : %s", lookup.answer.c_str());
  if (!lookup.record) {
    WriteLog("DDNS 서버에 등록되어 있지 않습니다.");
    return kBootNotRegistered;
  }
  ddns_host_ = lookup.record->host_name;
  ddns_email_ = lookup.record->email;
  ddns_ftp_port_ = lookup.record->ftp_port;
  ddns_http_port_ = lookup.record->http_port;

  const ServerMappingReading reading =
      system_.mapper.ClassifyServerMappings(gateway_, local_address_);
  classification_ = reading.kind;
  upnp_ = reading.control;
  if (reading.ftp_port) ddns_ftp_port_ = *reading.ftp_port;
  if (reading.http_port) ddns_http_port_ = *reading.http_port;
  if (classification_ == kNoUpnpGateway) {
    WriteLog("UPnP 포트 포워드 리스트를 가져 오지 못하였습니다. Ralmek 공유기의 UPnP 기능이 활성화 되어 있는지 확인하시기 바랍니다.");
    return kBootNoUpnp;
  }
  system_.mapper.ReadMappings(upnp_);

  if (classification_ == kNoServerMapping || classification_ == kMappedToThisPc) {
    const char* required[] = {setting::kFtpUser, setting::kFtpPassword,
                              setting::kFtpSharedFolder, setting::kFtpPort, setting::kHttpPort};
    for (const char* name : required) {
      if (!Setting(name)) {
        WriteLog("서버를 실행하기 위한 정보가 준비되어 있지 않습니다.");
        return kBootIncompleteSettings;
      }
    }
    WriteLog("서버를 실행하기 위한 정보가 준비되어 있습니다.");
  }

  if (classification_ == kNoServerMapping) {
    WriteLog("UPNP 포트 포워드 리스트에 Quarno Server 등록정보가 없습니다.");
    WriteLog("레지스트리에 등록된 정보를 확인합니다.");
    if (ReconcileRegistration(Mode::kNoMapping).verdict == 1) {
      if (RenewRegistration()) {
        serving_ = true;
        WriteLog("Upnp 포트 포워드 리스트에 정보가 없어, 재등록 시도 성공했습니다. 서버를 시작합니다.");
      } else {
        WriteLog("Upnp 포트 포워드 리스트에 정보가 없어, 재등록 시도 중 실패하였습니다.");
      }
      return kBootOk;
    }
    WriteLog("다른 PC에 등록되어 있습니다. UPnP 포트 포워드 리스트와 레지스트리에 정보가 없습니다.");
    return kBootOtherPcNoMapping;
  }

  if (classification_ == kMappedToThisPc) {
    WriteLog("현재 PC에 등록되어 있습니다.");
    if (ReconcileRegistration(Mode::kThisPc).ftp_port_taken) {
      WriteLog("등록된 FTP Port [%d]가 다른 응용 프로그램에서 사용중입니다.", ftp_port_);
      return kBootFtpPortTaken;
    }
    MapPassiveRange();
    serving_ = !renewal_failed_;
    if (PortTextSet(stored_ftp_port_) && PortTextSet(stored_http_port_)) {
      WriteLog("서버를 시작합니다. 1");
      StartServers();
      system_.clock.Sleep(options_.settle_after_start);
      system_.router.SetDdns(gateway_,
                             {stored_name_, stored_email_, stored_ftp_port_, stored_http_port_});
    } else {
      WriteLog("서버를 시작합니다. 2");
      StartServers();
      system_.clock.Sleep(options_.settle_after_start);
      system_.router.SetDdns(gateway_, {DdnsName(), ddns_email_, ddns_ftp_port_, ddns_http_port_});
    }
    return kBootOk;
  }

  WriteLog("다른 PC에 등록되어 있습니다.");
  return kBootOtherPcMapping;
}

CServerLauncher::Reconciled CServerLauncher::ReconcileRegistration(Mode mode) {
  Reconciled result;
  stored_name_ = Setting(setting::kQuarno).value_or("");
  const bool has_name = !stored_name_.empty();
  // The account is read before anything may start the servers, so a renewal
  // never writes a configuration file without it.
  auto read_account = [&](bool with_charset) {
    // A missing value leaves what was read before.
    auto read = [&](const char* name, std::string& value) {
      if (auto text = Setting(name)) value = *text;
    };
    read(setting::kFtpUser, account_.user);
    read(setting::kFtpPassword, account_.password);
    read(setting::kFtpSharedFolder, account_.shared_folder);
    if (with_charset) read(setting::kFtpCharset, account_.charset);
  };

  if (!has_name) {
    if (mode == Mode::kNoMapping) {
      result.verdict = 2;
      return result;
    }
    ftp_port_ = ToInt(ddns_ftp_port_);
    http_port_ = ToInt(ddns_http_port_);
    (void)system_.settings.WriteRegistration(
        {DdnsName(), ddns_email_, ddns_ftp_port_, ddns_http_port_});
    read_account(false);
    result.verdict = 1;
    return result;
  }

  if (auto text = Setting(setting::kFtpPort); text && !text->empty()) {
    stored_ftp_port_ = *text;
    ftp_port_ = ToInt(*text);
  }
  if (auto text = Setting(setting::kHttpPort); text && !text->empty()) {
    stored_http_port_ = *text;
    http_port_ = ToInt(*text);
  }
  if (auto text = Setting(setting::kEmail)) stored_email_ = *text;

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
    (void)system_.settings.WriteRegistration(
        {DdnsName(), ddns_email_, ddns_ftp_port_, ddns_http_port_});
    result.verdict = 1;
    return result;
  }

  if (!system_.network.IsPortFree(static_cast<uint16_t>(ftp_port_))) {
    result.ftp_port_taken = true;
    result.verdict = 1;
    return result;
  }
  read_account(true);
  if (!system_.network.IsPortFree(static_cast<uint16_t>(http_port_))) RenewRegistration();
  result.verdict = 1;
  return result;
}

bool CServerLauncher::RenewRegistration() {
  RenewRequest request;
  request.email = stored_email_;
  request.name = stored_name_;
  request.router_mac = router_mac_;
  request.local_address = local_address_;
  request.control = upnp_;
  request.ftp_port = ftp_port_;
  request.router_ftp_port = stored_ftp_port_;
  request.attempts = options_.renew_attempts;
  request.port_low = options_.renew_port_low;
  request.port_high = options_.renew_port_high;
  request.settle_after_start = options_.settle_after_renew;
  request.short_pause = options_.short_pause;
  request.passive_ports = PassivePortRange(ftp_port_);
  const RenewResult result =
      quarno::RenewRegistration(request, {*this, system_.ddns, system_.mapper, system_.router,
                                          system_.network, system_.clock});
  if (!result.ok()) {
    renewal_failed_ = true;
    return false;
  }
  (void)system_.settings.WriteRegistration({stored_name_, stored_email_, std::to_string(ftp_port_),
                                            std::to_string(http_port_)});
  return true;
}

void CServerLauncher::StopServing() {
  ControlOrLog(kControlStopHttp, "HTTP 서버 중지에 실패하였습니다.");
}

void CServerLauncher::StartServing(int /*ftp_port*/, int http_port) {
  http_port_ = http_port;
  stored_http_port_ = std::to_string(http_port_);
  StartServers();
}

void CServerLauncher::StartServers() {
  (void)system_.settings.Write(setting::kBootHttp, std::to_string(http_port_));
  if (!system_.settings.Write(setting::kMac, FormatMacTail(router_mac_))) {
    WriteLog("MAC 주소를 레지스트리에 저장하는데 실패하였습니다.");
  }
  admin_port_ =
      system_.ftp.WriteServerConfig(account_, router_mac_, ftp_port_, PassiveMode()).admin_port;
  ControlOrLog(kControlStartFtp, "FTP 서버 시작에 실패하였습니다.");

  const auto start = system_.clock.Now();
  for (;;) {
    if (!system_.network.IsPortFree(static_cast<uint16_t>(ftp_port_))) {
      WriteLog("Ftp 서버 포트가 open 되었습니다.");
      break;
    }
    if (system_.clock.Now() - start >= options_.ftp_port_open_wait) break;
    system_.clock.Sleep(options_.ftp_port_poll);
  }
  ControlOrLog(kControlStartHttp, "HTTP 서버 시작에 실패하였습니다.");
}

void CServerLauncher::ControlOrLog(ftpctl::ControlCode code, const char* failure_line) {
  if (!system_.ftp.Control(code)) WriteLog("%s", failure_line);
}

void CServerLauncher::MapPassiveRange() {
  for (const PortMapping& port : PassivePortMappings(PassivePortRange(ftp_port_), local_address_)) {
    if (const UpnpActionResult result = system_.mapper.AddMapping(upnp_, port); !result.ok())
      WriteLog("UPnP 포트 포워드 등록에 실패하였습니다: %s (%s), 오류 %d",
               port.external_port.c_str(), port.description.c_str(), result.code);
  }
}

ftpctl::PassiveMode CServerLauncher::PassiveMode() {
  // Asked once: the healer reports later changes.
  if (external_address_.empty() && !upnp_.control_url.empty())
    external_address_ = system_.mapper.ExternalAddress(upnp_).value_or("");
  const PortRange range = PassivePortRange(ftp_port_);
  return {range.low, range.high, external_address_};
}

std::optional<ServedMappings> CServerLauncher::Serving() const {
  if (!serving_) return std::nullopt;
  return ServedMappings{
      gateway_,         local_address_, ftp_port_, http_port_, PassivePortRange(ftp_port_),
      external_address_};
}

bool CServerLauncher::ExternalAddressChanged(const std::string& address) {
  external_address_ = address;
  const ftpctl::FtpConfigResult result =
      system_.ftp.WriteServerConfig(account_, router_mac_, ftp_port_, PassiveMode());
  if (!result.written) return false;
  admin_port_ = result.admin_port;
  (void)system_.settings.Write(setting::kAdminPort, std::to_string(admin_port_));
  return system_.ftp.Control(kControlStartFtp);
}

std::optional<std::string> CServerLauncher::Setting(const char* name) {
  return system_.settings.Read(name);
}

std::string CServerLauncher::DdnsName() const { return ddns_host_.substr(0, ddns_host_.find('.')); }

}  // namespace quarno
