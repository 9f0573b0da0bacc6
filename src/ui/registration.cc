// Registration of the PC's address: the register, re-register, delete and
// take-over workflows, the servers' switch and the start-up decision.
#include <cstdio>
#include <cstdlib>

#include "core/log.h"
#include "core/settings.h"
#include "ftpctl/admin_protocol.h"
#include "platform/trace.h"
#include "ui/main_window.h"
#include "ui/texts.h"

namespace quarno::ui {

namespace {

// The value of the leading decimal digits; 0 without any, and a value past
// the port range (not a wrapped one) for a long run of digits.
long LeadingNumber(const std::string& text) {
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 1000000) return value;
  }
  return value;
}

bool SameOrZero(const std::string& text) { return text.empty() || text == "0"; }

// The DDNS server and the router agree on both server ports, and the stored
// ones are others.
bool StaleStoredPorts(const DdnsRecord& announced, const ServerMappingReading& reading,
                      const std::string& stored_ftp, const std::string& stored_http) {
  if (!reading.ftp_port || !reading.http_port) return false;
  if (announced.ftp_port != *reading.ftp_port || announced.http_port != *reading.http_port)
    return false;
  if (SameOrZero(announced.ftp_port) || SameOrZero(announced.http_port)) return false;
  return announced.ftp_port != stored_ftp || announced.http_port != stored_http;
}

}  // namespace

ftpctl::CGeneralOption CQuarnoUIDlg::FtpSettings(const std::string& ftp_port_text) const {
  ftpctl::CGeneralOption options;
  options.SetText(ftpctl::OPTION_SERVERPORT, ftp_port_text);
  options.SetNumber(ftpctl::OPTION_TIMEOUT, 300);
  options.SetNumber(ftpctl::OPTION_NOTRANSFERTIMEOUT, 0);
  char welcome[64];
  std::snprintf(welcome, sizeof welcome, "Ralmek_FTPD && Host-AB1222 %02X%02X%02X", facts_.mac[3],
                facts_.mac[4], facts_.mac[5]);
  options.SetText(ftpctl::OPTION_WELCOMEMESSAGE, welcome);
  options.SetNumber(ftpctl::OPTION_ADMINPORT, facts_.admin_port);
  // A set replaces the whole set: the protections must be named in it, or
  // sending it would switch them off.
  options.SetNumber(ftpctl::OPTION_ENABLESSL, 1);
  options.SetNumber(ftpctl::OPTION_ALLOWEXPLICITSSL, 1);
  const bool force_tls = caps_.settings->Read(setting::kFtpForceTls).value_or("") == "1";
  options.SetNumber(ftpctl::OPTION_SSLFORCEEXPLICIT, force_tls ? 1 : 0);
  options.SetNumber(ftpctl::OPTION_FORCEPROTP, force_tls ? 1 : 0);
  options.SetNumber(ftpctl::OPTION_AUTOBAN_ENABLE, 1);
  options.SetNumber(ftpctl::OPTION_AUTOBAN_ATTEMPTS, 5);
  options.SetNumber(ftpctl::OPTION_AUTOBAN_TYPE, 0);  // minutes
  options.SetNumber(ftpctl::OPTION_AUTOBAN_BANTIME, 15);
  const long port = LeadingNumber(ftp_port_text);
  if (port >= 1 && port <= 65535) {
    const PortRange passive = PassivePortRange(static_cast<int>(port));
    options.SetNumber(ftpctl::OPTION_USECUSTOMPASVPORT, 1);
    options.SetNumber(ftpctl::OPTION_CUSTOMPASVMINPORT, passive.low);
    options.SetNumber(ftpctl::OPTION_CUSTOMPASVMAXPORT, passive.high);
    // Without it every client gets the LAN address, as before.
    if (!external_address_.empty()) {
      options.SetNumber(ftpctl::OPTION_CUSTOMPASVIPTYPE, 1);
      options.SetText(ftpctl::OPTION_CUSTOMPASVIP, external_address_);
    }
  }
  return options;
}

void CQuarnoUIDlg::SendFtpSettings(const std::string& ftp_port_text) {
  // Built and sent under one lock, so an older address never arrives last.
  std::lock_guard lock(ftp_settings_mutex_);
  if (caps_.admin->SendOptions(FtpSettings(ftp_port_text))) {
    const long port = LeadingNumber(ftp_port_text);
    if (port >= 1 && port <= 65535) ftp_server_port_ = static_cast<int>(port);
  }
}

bool CQuarnoUIDlg::PortUsedByAnotherProgram(int port) {
  {
    std::lock_guard lock(ftp_settings_mutex_);
    if (port == ftp_server_port_) return false;
  }
  return !caps_.network->IsPortFree(static_cast<uint16_t>(port));
}

void CQuarnoUIDlg::LearnExternalAddress() {
  if (control_.control_url.empty()) return;
  {
    std::lock_guard lock(ftp_settings_mutex_);
    if (!external_address_.empty()) return;  // later changes come from the healer
  }
  const std::string address = caps_.mapper->ExternalAddress(control_).value_or("");
  std::lock_guard lock(ftp_settings_mutex_);
  external_address_ = address;
}

bool CQuarnoUIDlg::PassiveAddress::ExternalAddressChanged(const std::string& address) {
  CQuarnoUIDlg& w = window_;
  std::lock_guard lock(w.ftp_settings_mutex_);
  w.external_address_ = address;
  return w.caps_.admin->SendOptions(w.FtpSettings(w.served_ftp_port_text_));
}

void CQuarnoUIDlg::ReplaceStaleStoredPorts(const DdnsRecord& announced,
                                           const ServerMappingReading& reading) {
  const auto stored = [&](const char* name) { return caps_.settings->Read(name).value_or(""); };
  const std::string name = stored(setting::kQuarno), email = stored(setting::kEmail);
  const std::string ftp = stored(setting::kFtpPort), http = stored(setting::kHttpPort);
  if (name.empty() || announced.Name() != name || announced.email != email) return;
  if (SameOrZero(ftp) || SameOrZero(http)) return;
  if (!StaleStoredPorts(announced, reading, ftp, http)) return;
  // A renewal by the boot-up service that was stopped after the DDNS server
  // and the router took its new ports, before it stored them: serving the
  // stored ports would leave the announced ones dead.
  WriteLog("저장된 포트(%s, %s) 대신 DDNS에 등록된 포트(%s, %s)로 서버를 시작합니다.", ftp.c_str(),
           http.c_str(), announced.ftp_port.c_str(), announced.http_port.c_str());
  if (!caps_.settings->WriteRegistration({name, email, announced.ftp_port, announced.http_port}))
    WriteLog("레지스트리 - Quarno 정보 저장에 실패하였습니다.");
}

void CQuarnoUIDlg::KeepMappings(const std::string& ftp_port_text, int http_port) {
  const long ftp_port = LeadingNumber(ftp_port_text);
  if (ftp_port < 1 || ftp_port > 65535) return;
  ServedMappings served{facts_.gateway,
                        facts_.local_address,
                        static_cast<int>(ftp_port),
                        http_port,
                        PassivePortRange(static_cast<int>(ftp_port)),
                        ""};
  {
    std::lock_guard lock(ftp_settings_mutex_);
    served_ftp_port_text_ = ftp_port_text;
    ftp_server_port_ = static_cast<int>(ftp_port);
    served.external_address = external_address_;
  }
  healer_.Serve(served);
  if (!heal_thread_.joinable() && !heal_stop_.Requested())
    heal_thread_ = std::thread([this] { RunHealer(healer_, heal_stop_); });
}

void CQuarnoUIDlg::StopHealing() {
  heal_stop_.Request();
  if (heal_thread_.joinable()) heal_thread_.join();
  healer_.Stop();
}

void CQuarnoUIDlg::SwitchServers(const std::string* ftp_port_text, bool on, bool start_http,
                                 const std::string& http_port_text) {
  // The boot-up service's FTP server served HTTP itself; this program serves
  // it from now on.
  if (facts_.ftp_server_running && !http_handed_over_) {
    if (!caps_.ftp_service->Control(ftpctl::kControlStopHttp)) {
      WriteLog("FTP 서버의 HTTP 서비스를 멈추지 못했습니다.");
    }
    http_handed_over_ = true;
  }
  if (ftp_port_text != nullptr) SendFtpSettings(*ftp_port_text);
  uint16_t state = caps_.admin->ServerState();
  if (on) {
    ftp_online_ = true;
    state = static_cast<uint16_t>((state & 0x10) | 0x01);
    if (!http_running_ && start_http && !http_port_text.empty()) {
      http_running_ = caps_.http->Start(http_port_text);
      if (!http_running_) WriteLog("HTTP 서버를 시작하지 못했습니다. [%s]", http_port_text.c_str());
    }
  } else {
    ftp_online_ = false;
    state = static_cast<uint16_t>(state | 0x02);
    if (http_running_) {
      caps_.http->Stop();
      http_running_ = false;
    }
  }
  caps_.admin->SendServerState(state);
}

void CQuarnoUIDlg::ProcedureServers::StopServing() {
  window_.SwitchServers(nullptr, false, false, {});
}

void CQuarnoUIDlg::ProcedureServers::StartServing(int ftp_port, int http_port) {
  window_.ftp_port_ = ftp_port;
  window_.http_port_ = http_port;
  window_.http_port_text_ = std::to_string(http_port);
  window_.LearnExternalAddress();
  window_.SendFtpSettings(window_.ftp_port_text_);
  window_.SwitchServers(nullptr, true, true, window_.http_port_text_);
}

uint16_t CQuarnoUIDlg::PickPort(uint16_t excluded) {
  return caps_.network->PickFreePort(kPortLow, kPortHigh, excluded).value_or(0);
}

RenewResult CQuarnoUIDlg::Renew(RenewedMappings mappings, const CancelFlag& cancel) {
  RenewRequest request;
  request.email = email_;
  request.name = name_;
  request.router_mac = facts_.mac;
  request.local_address = facts_.local_address;
  request.control = control_;
  request.ftp_port = ftp_port_;
  request.router_ftp_port = ftp_port_text_;
  request.mappings = mappings;
  const bool registration = mappings == RenewedMappings::kFtpAndHttp;
  if (registration) request.passive_ports = PassivePortRange(ftp_port_);
  request.stop_on_refusal = registration;
  // A failed first registration must not leave a half-made record; a
  // registered PC keeps its record.
  request.delete_host_on_failure = registration && !registered_;
  request.attempts = kRegisterAttempts;
  request.port_low = kPortLow;
  request.port_high = kPortHigh;
  request.stop_requested = [&cancel] { return static_cast<bool>(cancel); };
  // The procedure takes the mappings down and puts new ones up: a check in
  // between would put the old ones back.
  healer_.Stop();
  ProcedureServers servers(*this);
  const RenewResult result = RenewRegistration(
      request, {servers, *caps_.ddns, *caps_.mapper, *caps_.router, *caps_.network, timers_});
  if (result.ok()) KeepMappings(ftp_port_text_, result.http_port);
  return result;
}

void CQuarnoUIDlg::RegisterAddress(int* mode, const CancelFlag& cancel, bool at_start_up) {
  const bool interactive = mode == nullptr || *mode != 1;
  if (interactive) {
    SwitchServers(nullptr, false, false, {});
    const std::string name = view_.Text(Surface::kMain, ctl::kName);
    if (name.empty() || name.find('_') != std::string::npos) {
      ShowMessage(name.empty() ? text::kEnterName : text::kNoUnderscore);
      view_.Focus(Surface::kMain, ctl::kName);
      return;
    }
    const std::string email = view_.Text(Surface::kMain, ctl::kEmail);
    if (email.empty() || email.find('@') == std::string::npos) {
      ShowMessage(email.empty() ? text::kEnterEmail : text::kEmailForm);
      view_.Focus(Surface::kMain, ctl::kEmail);
      return;
    }
    std::string port_text = view_.Text(Surface::kMain, ctl::kPort);
    const bool automatic = view_.Checked(Surface::kMain, ctl::kAutoPort);
    if (port_text.empty() && !automatic) {
      ShowMessage(text::kEnterPort);
      view_.Focus(Surface::kMain, ctl::kPort);
      return;
    }
    if (automatic) {
      port_text = std::to_string(PickPort(0));
      view_.SetText(Surface::kMain, ctl::kPort, port_text);
    }
    const long port = LeadingNumber(port_text);
    if (port < 1 || port > 65535) {
      ShowMessage(text::kPortRange);
      view_.Focus(Surface::kMain, ctl::kPort);
      return;
    }
    if (PortUsedByAnotherProgram(static_cast<int>(port))) {
      ShowMessage(text::kPortInUse);
      view_.Focus(Surface::kMain, ctl::kPort);
      return;
    }
    name_ = name;
    email_ = email;
    ftp_port_text_ = port_text;
    ftp_port_ = static_cast<int>(port);
  }

  BeginWaiting(text::kWaitRegister);
  if (!interactive) ftp_port_ = static_cast<int>(LeadingNumber(ftp_port_text_));
  const RenewResult result = Renew(RenewedMappings::kFtpAndHttp, cancel);
  EndWaiting();

  if (result.ok()) {
    if (!caps_.settings->WriteRegistration({name_, email_, ftp_port_text_, http_port_text_}) &&
        Visible()) {
      ShowMessage(text::kRegistrySaveFailed);
    }
    registered_ = true;
    force_enable_ = false;
    if (!at_start_up && Visible()) ShowMessage(text::kRegisterDone);
    SetStatus(text::kRegistered);
    view_.Enable(Surface::kMain, ctl::kRegister, false);
    view_.Enable(Surface::kMain, ctl::kApply, true);
    caps_.firewall->Check({ftp_port_, http_port_});
    if (mode != nullptr && *mode == 1) *mode = 3;
    return;
  }
  if (result.outcome == RenewOutcome::kNotYours || result.outcome == RenewOutcome::kBadSys) {
    // Nothing is registered: the router must not forward to servers that are off.
    caps_.mapper->DeleteMapping(
        control_, ServerPortMapping(kFtpMappingDescription, ftp_port_, facts_.local_address));
    caps_.mapper->DeleteMapping(
        control_,
        ServerPortMapping(kHttpMappingDescription, result.http_port, facts_.local_address));
    for (const PortMapping& port :
         PassivePortMappings(PassivePortRange(ftp_port_), facts_.local_address))
      caps_.mapper->DeleteMapping(control_, port);
    view_.Enable(Surface::kMain, ctl::kApply, false);
    SetStatus(result.outcome == RenewOutcome::kNotYours ? text::kNameTaken : text::kBadParameters);
  }
  SwitchServers(nullptr, false, false, {});
  if (Visible()) ShowMessage(text::kRegisterFailed);
  SetStatus(text::kRegistrationFailed);
  view_.Enable(Surface::kMain, ctl::kApply, false);
}

int CQuarnoUIDlg::ReRegisterAfterPortConflict(const CancelFlag& cancel) {
  const RenewResult result = Renew(RenewedMappings::kHttpOnly, cancel);
  if (result.ok()) {
    if (!caps_.settings->WriteRegistration({name_, email_, ftp_port_text_, http_port_text_})) {
      ShowMessage(text::kRegistrySaveFailed);
    }
    return 1;
  }
  SwitchServers(nullptr, false, false, {});
  ShowMessage(text::kReRegisterFailed);
  view_.Enable(Surface::kMain, ctl::kApply, false);
  return 0;
}

void CQuarnoUIDlg::ReadStoredAccountIntoEdits(bool with_charset) {
  if (auto value = caps_.settings->Read(setting::kFtpUser)) account_.user = *value;
  if (auto value = caps_.settings->Read(setting::kFtpPassword)) account_.password = *value;
  if (auto value = caps_.settings->Read(setting::kFtpSharedFolder)) account_.folder = *value;
  view_.SetText(Surface::kMain, ctl::kFtpUser, account_.user);
  view_.SetText(Surface::kMain, ctl::kFtpPassword, account_.password);
  view_.SetText(Surface::kMain, ctl::kSharedFolder, account_.folder);
  if (!with_charset) return;
  const std::string charset = caps_.settings->Read(setting::kFtpCharset).value_or("");
  if (charset != text::kCharsetEucKr && charset != text::kCharsetUtf8) return;
  account_.charset = charset;
  charset_index_ = charset == text::kCharsetUtf8 ? 1 : 0;
  ftp_charset_ = charset_index_;
  caps_.http->SetCharsetUtf8(ftp_charset_ == 1);
  view_.Select(Surface::kMain, ctl::kCharset, charset_index_);
}

int CQuarnoUIDlg::CheckStoredAccount(const std::optional<DdnsRecord>& record, int verdict,
                                     int* result) {
  BeginWaiting(text::kWaitCheckAccount);
  const std::string stored_name = caps_.settings->Read(setting::kQuarno).value_or("");
  if (!stored_name.empty()) {
    const std::string stored_email = caps_.settings->Read(setting::kEmail).value_or("");
    const std::string stored_ftp = caps_.settings->Read(setting::kFtpPort).value_or("");
    const std::string stored_http = caps_.settings->Read(setting::kHttpPort).value_or("");
    name_ = stored_name;
    view_.SetText(Surface::kMain, ctl::kName, stored_name);
    if (!stored_email.empty()) {
      email_ = stored_email;
      view_.SetText(Surface::kMain, ctl::kEmail, stored_email);
    }
    if (!stored_ftp.empty()) {
      ftp_port_text_ = stored_ftp;
      ftp_port_ = static_cast<int>(LeadingNumber(stored_ftp));
      view_.SetText(Surface::kMain, ctl::kPort, stored_ftp);
    }
    if (!stored_http.empty()) {
      http_port_text_ = stored_http;
      http_port_ = static_cast<int>(LeadingNumber(stored_http));
    }

    if (verdict != 0) {
      bool ftp_port_taken = false;
      if (!facts_.ftp_server_running) {
        if (!caps_.network->IsPortFree(static_cast<uint16_t>(ftp_port_))) {
          EndWaiting();
          if (Visible()) ShowMessage(text::kStoredFtpPortTaken);
          if (result != nullptr) *result = 3;
          ftp_port_taken = true;
        } else if (!caps_.network->IsPortFree(static_cast<uint16_t>(http_port_))) {
          platform::Trace("http Port가 다른 프로세스에서 사용중 %%%%%%%%%%");
          if (ReRegisterAfterPortConflict(CancelFlag{}) == 0) {
            EndWaiting();
            if (Visible()) ShowMessage(text::kAutoReRegisterFailed);
          }
        }
      }
      ReadStoredAccountIntoEdits(true);
      view_.Enable(Surface::kMain, ctl::kApply, !ftp_port_taken);
      EndWaiting();
      return 1;
    }

    if (record && record->Name() == stored_name && record->email == stored_email) {
      DdnsRecord taken = *record;
      if (taken.ftp_port == "0" || taken.http_port == "0") {
        taken.ftp_port = stored_ftp;
        taken.http_port = stored_http;
      }
      name_ = taken.Name();
      email_ = taken.email;
      ftp_port_text_ = taken.ftp_port;
      ftp_port_ = static_cast<int>(LeadingNumber(taken.ftp_port));
      http_port_text_ = taken.http_port;
      http_port_ = static_cast<int>(LeadingNumber(taken.http_port));
      view_.SetText(Surface::kMain, ctl::kName, name_);
      view_.SetText(Surface::kMain, ctl::kEmail, email_);
      view_.SetText(Surface::kMain, ctl::kPort, ftp_port_text_);
      ReadStoredAccountIntoEdits(true);
      if (!caps_.settings->WriteRegistration({name_, email_, ftp_port_text_, http_port_text_})) {
        WriteLog("레지스트리 - Quarno 정보 저장에 실패하였습니다.");
      }
      EndWaiting();
      return 1;
    }
    EndWaiting();
    return 2;
  }

  if (verdict == 1 && record) {
    name_ = record->Name();
    email_ = record->email;
    ftp_port_text_ = record->ftp_port;
    ftp_port_ = static_cast<int>(LeadingNumber(record->ftp_port));
    http_port_text_ = record->http_port;
    http_port_ = static_cast<int>(LeadingNumber(record->http_port));
    view_.SetText(Surface::kMain, ctl::kName, name_);
    view_.SetText(Surface::kMain, ctl::kEmail, email_);
    view_.SetText(Surface::kMain, ctl::kPort, ftp_port_text_);
    if (!caps_.settings->WriteRegistration({name_, email_, ftp_port_text_, http_port_text_})) {
      WriteLog("레지스트리 - Quarno 정보 저장에 실패하였습니다.");
    }
    ReadStoredAccountIntoEdits(false);
    EndWaiting();
    return 1;
  }
  EndWaiting();
  return 2;
}

void CQuarnoUIDlg::StartupDecision(const std::optional<DdnsRecord>& record,
                                   const CancelFlag& cancel) {
  record_ = record;
  BeginWaiting(text::kWaitUpnpList);
  const ServerMappingReading reading =
      caps_.mapper->ClassifyServerMappings(facts_.gateway, facts_.local_address);
  verdict_ = static_cast<int>(reading.kind);
  if (reading.kind == MappingClass::kNoUpnpGateway) {
    EndWaiting();
    if (facts_.tray_start) view_.ShowWindow(Surface::kMain, true);
    self_.Post(WM_FATAL_START_ERROR, 3, 0);
    return;
  }
  control_ = reading.control;
  // What the DDNS server said, before the router's ports replace it below.
  const std::optional<DdnsRecord> announced = record_;
  if (record_) {
    // What the router forwards wins over what the DDNS server remembers.
    if (reading.ftp_port) record_->ftp_port = *reading.ftp_port;
    if (reading.http_port) record_->http_port = *reading.http_port;
  }
  caps_.mapper->ReadMappings(control_);
  EndWaiting();
  if (cancel) return;

  auto hide_account_buttons = [&] {
    view_.ShowControl(Surface::kMain, ctl::kDeleteAccount, false);
    view_.ShowControl(Surface::kMain, ctl::kRegisterToThisPc, false);
  };
  auto other_pc = [&](bool clear_email) {
    SetStatus(text::kRegisteredElsewhere);
    view_.SetText(Surface::kMain, ctl::kName, record_->Name());
    view_.Enable(Surface::kMain, ctl::kName, false);
    view_.SetText(Surface::kMain, ctl::kPort, record_->ftp_port);
    if (clear_email) view_.SetText(Surface::kMain, ctl::kEmail, "");
    view_.Enable(Surface::kMain, ctl::kApply, false);
    view_.ShowControl(Surface::kMain, ctl::kRegister, false);
    view_.ShowControl(Surface::kMain, ctl::kRegisterToThisPc, true);
    view_.ShowControl(Surface::kMain, ctl::kDeleteAccount, true);
  };
  auto account_complete = [&] {
    return !account_.user.empty() && !account_.password.empty() && !account_.folder.empty();
  };

  if (!record_) {
    healer_.Stop();
    caps_.mapper->RemoveServerMappings(control_);
    registered_ = false;
    SetStatus(text::kNotRegistered);
    view_.Enable(Surface::kMain, ctl::kApply, false);
    view_.Enable(Surface::kMain, ctl::kRegister, false);
    hide_account_buttons();
    return;
  }

  if (verdict_ == 0) {
    if (CheckStoredAccount(record_, 0, nullptr) == 2) {
      other_pc(true);
      return;
    }
    registered_ = true;
    SetStatus(text::kRegistered);
    int mode = 1;
    RegisterAddress(&mode, cancel, true);
    if (mode != 3) {
      SetStatus(text::kRegistrationFailed);
      view_.Enable(Surface::kMain, ctl::kApply, false);
      view_.Enable(Surface::kMain, ctl::kRegister, true);
    } else {
      if (account_complete()) {
        const FtpAccount stored = account_;
        ApplyFtpAccount(&stored);
      }
      view_.Enable(Surface::kMain, ctl::kRegister, false);
    }
    hide_account_buttons();
    return;
  }

  if (verdict_ == 1) {
    ReplaceStaleStoredPorts(*announced, reading);
    int result = 0;
    CheckStoredAccount(record_, 1, &result);
    registered_ = true;
    SetStatus(text::kRegistered);
    if (result == 3) {
      SetStatus(text::kRegistrationFailed);
      view_.Enable(Surface::kMain, ctl::kRegister, true);
      hide_account_buttons();
      return;
    }
    const bool stored_ports = !SameOrZero(ftp_port_text_) && !SameOrZero(http_port_text_);
    const std::string ftp = stored_ports ? ftp_port_text_ : record_->ftp_port;
    const std::string http = stored_ports ? http_port_text_ : record_->http_port;
    const std::string name = stored_ports ? name_ : record_->Name();
    const std::string email = stored_ports ? email_ : record_->email;
    // The router kept the FTP mapping; the passive range goes beside it (a
    // router that lost it, or a program from before the range, left none).
    const long ftp_port = LeadingNumber(ftp);
    if (ftp_port >= 1 && ftp_port <= 65535) {
      for (const PortMapping& port :
           PassivePortMappings(PassivePortRange(static_cast<int>(ftp_port)), facts_.local_address))
        caps_.mapper->AddMapping(control_, port);
    }
    LearnExternalAddress();
    if (!facts_.ftp_server_running) SwitchServers(&ftp, true, true, http);
    KeepMappings(ftp, static_cast<int>(LeadingNumber(http)));
    // The router's table may be what an interrupted renewal left (another
    // HTTP port, no passive range): the served ports are mapped now, not in
    // one period.
    healer_.CheckNow();
    if (account_complete()) {
      if (facts_.ftp_server_running) {
        // The boot-up service applied the account and made the share link.
        account_applied_ = true;
        caps_.share->SetCurrentJunctionPath(caps_.share->JunctionPath(account_.folder));
      } else {
        const FtpAccount stored = account_;
        ApplyFtpAccount(&stored);
      }
      view_.Enable(Surface::kMain, ctl::kApply, false);
    }
    caps_.router->SetDdns(facts_.gateway, {name, email, ftp, http});
    view_.Enable(Surface::kMain, ctl::kRegister, false);
    hide_account_buttons();
    return;
  }

  other_pc(false);
}

bool CQuarnoUIDlg::ValidateEmail() {
  const std::string email = view_.Text(Surface::kMain, ctl::kEmail);
  if (!email.empty() && email.find('@') != std::string::npos) return true;
  ShowMessage(email.empty() ? text::kEnterEmail : text::kEmailForm);
  view_.Focus(Surface::kMain, ctl::kEmail);
  return false;
}

void CQuarnoUIDlg::ResetToUnregistered() {
  healer_.Stop();
  caps_.mapper->ReadMappings(control_);
  caps_.mapper->RemoveServerMappings(control_);
  view_.Enable(Surface::kMain, ctl::kName, true);
  view_.ShowControl(Surface::kMain, ctl::kDeleteAccount, false);
  view_.ShowControl(Surface::kMain, ctl::kRegisterToThisPc, false);
  view_.ShowControl(Surface::kMain, ctl::kRegister, true);
  view_.SetText(Surface::kMain, ctl::kName, "");
  view_.SetText(Surface::kMain, ctl::kEmail, "");
  view_.SetText(Surface::kMain, ctl::kPort, "");
  registered_ = false;
  view_.Enable(Surface::kMain, ctl::kRegister, false);
  SetStatus(text::kNotRegistered);
}

void CQuarnoUIDlg::DeleteExistingAccount() {
  if (!ValidateEmail()) return;
  const std::string email = view_.Text(Surface::kMain, ctl::kEmail);
  const std::string name = record_ ? record_->Name() : std::string();
  if (!caps_.ddns->Delete(email, name, facts_.mac)) {
    ShowMessage(text::kDeleteFailed);
    return;
  }
  ResetToUnregistered();
  ShowMessage(text::kDeleteDone);
}

void CQuarnoUIDlg::RegisterToThisPc(const CancelFlag& cancel) {
  if (!ValidateEmail()) return;
  const std::string email = view_.Text(Surface::kMain, ctl::kEmail);
  const std::string port_text = view_.Text(Surface::kMain, ctl::kPort);
  const long port = LeadingNumber(port_text);
  if (port < 1 || port > 65535 || PortUsedByAnotherProgram(static_cast<int>(port))) {
    ShowMessage(port < 1 || port > 65535 ? text::kPortRange : text::kPortInUse);
    view_.Focus(Surface::kMain, ctl::kPort);
    return;
  }
  name_ = record_ ? record_->Name() : std::string();
  email_ = email;
  http_port_text_ = record_ ? record_->http_port : std::string();
  ftp_port_text_ = port_text;
  ftp_port_ = static_cast<int>(port);
  if (!caps_.ddns->Delete(email_, name_, facts_.mac)) {
    ShowMessage(text::kThisPcDeleteFailed);
    return;
  }
  ResetToUnregistered();
  int mode = 1;
  RegisterAddress(&mode, cancel);
  if (mode != 3) {
    ShowMessage(text::kThisPcFailed);
    return;
  }
  view_.Enable(Surface::kMain, ctl::kName, true);
  view_.ShowControl(Surface::kMain, ctl::kDeleteAccount, false);
  view_.ShowControl(Surface::kMain, ctl::kRegisterToThisPc, false);
  view_.ShowControl(Surface::kMain, ctl::kRegister, true);
  view_.Enable(Surface::kMain, ctl::kRegister, false);
  registered_ = true;
  view_.SetText(Surface::kMain, ctl::kName, name_);
  view_.SetText(Surface::kMain, ctl::kEmail, email_);
  view_.SetText(Surface::kMain, ctl::kPort, ftp_port_text_);
  SetStatus(text::kRegistered);
  ShowMessage(text::kThisPcDone);
}

void CQuarnoUIDlg::OnRegisterClicked() {
  RunWorkflow([this](const CancelFlag& cancel) { RegisterAddress(nullptr, cancel); });
}

void CQuarnoUIDlg::OnRegisterToThisPcClicked() {
  RunWorkflow([this](const CancelFlag& cancel) { RegisterToThisPc(cancel); });
}

void CQuarnoUIDlg::OnDeleteAccountClicked() {
  RunWorkflow([this](const CancelFlag&) { DeleteExistingAccount(); });
}

void CQuarnoUIDlg::OnAutoPortToggled() {
  const bool automatic = view_.Checked(Surface::kMain, ctl::kAutoPort);
  view_.Enable(Surface::kMain, ctl::kPort, !automatic);
  view_.Enable(Surface::kMain, ctl::kRegister, true);
  force_enable_ = true;
}

}  // namespace quarno::ui
