// The second start-up stage, and the start option that only the settings keep.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "platform/trace.h"
#include "ui/main_window.h"
#include "ui/texts.h"

namespace quarno::ui {

void CQuarnoUIDlg::StartServices(const CancelFlag& cancel) {
  view_.SetTrayIcon(true);
  BeginWaiting(text::kWaitResolveDdns);
  const std::optional<std::string> address = caps_.ddns->LocateServer();
  EndWaiting();
  if (!address) {
    if (facts_.tray_start) view_.ShowWindow(Surface::kMain, true);
    self_.Post(WM_FATAL_START_ERROR, 1, 0);
    return;
  }
  ddns_server_address_ = *address;

  std::vector<int> ports;
  for (const char* name : {setting::kFtpPort, setting::kHttpPort}) {
    if (auto stored = caps_.settings->Read(name)) ports.push_back(std::atoi(stored->c_str()));
  }
  caps_.firewall->Check(ports);

  const ftpctl::SetUpResult setup = caps_.admin->SetUp(facts_.admin_port);
  if (setup == ftpctl::SetUpResult::kFailed) {
    // The admin client has posted start-up error 2 itself.
    if (facts_.tray_start) view_.ShowWindow(Surface::kMain, true);
    return;
  }
  if (setup == ftpctl::SetUpResult::kAuthenticated) {
    timers_.Start(kTimerKeepAlive, std::chrono::milliseconds(10000), &self_);
  }
  if (cancel) return;
  if (!facts_.ftp_server_running) SwitchServers(nullptr, false, false, {});
  const DdnsLookup lookup = caps_.ddns->LookupByMac(facts_.mac);
  platform::Trace("%s%%%%%%%%%%", lookup.answer.c_str());
  if (cancel) return;
  StartupDecision(lookup.record, cancel);
}

void CQuarnoUIDlg::OnTrayStartClicked() {
  const bool checked = view_.Checked(Surface::kMain, ctl::kTrayStart);
  if (!caps_.settings->Write(setting::kTrayExecution, checked ? "true" : "false")) {
    WriteLog("tray_execution 설정을 저장하지 못했습니다.");
  }
  EnableApplyWhenFilled();
}

}  // namespace quarno::ui
