// The main window's life: set-up, the second start-up stage, the admin
// connection's notices, timers, tray and the exit path.
#include "ui/main_window.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/log.h"
#include "core/endpoints.h"
#include "ftpctl/ftp_server.h"
#include "platform/trace.h"
#include "ui/texts.h"

namespace quarno::ui {

namespace {
constexpr char kHelpPage[] = "help_quarno.html";
constexpr char kBootServiceMissing[] =
    "Quarno_Bootup_Service 실행파일을 찾을 수 없습니다.\n\n해당 경로에 파일이 존재하는지 "
    "확인하시기 바랍니다.";
// The option is on and the program starts at logon; what keeps the servers
// from starting at boot, before anybody logs on, and what to do.
constexpr char kBootStartNeedsLinger[] =
    "로그인하기 전에는 서버가 자동으로 시작되지 않습니다.\n\n부팅 시 바로 시작되게 하려면 "
    "관리자 권한으로 \"sudo loginctl enable-linger $USER\" 명령을 실행하시기 바랍니다.";
constexpr char kBootStartUnavailable[] =
    "부팅 시 서버를 시작할 systemd나 cron이 없어 로그인한 후에만 서버가 시작됩니다.\n\n"
    "cron 패키지를 설치한 후 다시 설정하시기 바랍니다.";
constexpr char kBootStartCronRefused[] =
    "cron에 부팅 시 시작을 등록하지 못해 로그인한 후에만 서버가 시작됩니다.\n\n"
    "관리자에게 cron 사용 권한을 요청하시기 바랍니다.";
}  // namespace

CQuarnoUIDlg::CQuarnoUIDlg(View& view, Timers& timers, MessageSink& self, Capabilities caps,
                           AutoStart& autostart)
    : view_(view),
      timers_(timers),
      self_(self),
      caps_(caps),
      autostart_(autostart),
      healer_(*caps_.heal_mapper, *caps_.network, clock_, passive_address_),
      server_status_text_(text::kServerPreparing),
      runner_(view, Surface::kMain) {}

CQuarnoUIDlg::~CQuarnoUIDlg() {
  timers_.Kill(kTimerStartServices);
  timers_.Kill(kTimerKeepAlive);
  runner_.WaitIdle();
  StopHealing();
  if (autorun_thread_.joinable()) autorun_thread_.join();
}

void CQuarnoUIDlg::OnInitDialog() {
  view_.Select(Surface::kMain, ctl::kCharset, 0);
  charset_index_ = 0;
  ftp_charset_ = 0;
  caps_.http->SetCharsetUtf8(false);
  caps_.http->SetRouterMac(facts_.mac);
  view_.SetMasked(Surface::kMain, ctl::kFtpPassword, true);
  view_.SetChecked(Surface::kMain, ctl::kAutoRun, autostart_.IsAutoStartRegistered());
  view_.SetChecked(Surface::kMain, ctl::kTrayStart, facts_.tray_start);
  hidden_to_tray_ = facts_.tray_start;
  if (facts_.init_rect) view_.MoveWindow(Surface::kMain, *facts_.init_rect);
  view_.SetText(Surface::kMain, drawn::kPcAddress, facts_.local_address);
  view_.SetText(Surface::kMain, drawn::kServerStatus, ServerStatusText());
  timers_.Start(kTimerStartServices, std::chrono::milliseconds(20), &self_);
  view_.SetOpacity(Surface::kMain, 255);
}

bool CQuarnoUIDlg::RunWorkflow(WorkflowRunner::Work work) { return runner_.Run(std::move(work)); }

void CQuarnoUIDlg::OnMessage(const Message& message) {
  switch (message.id) {
    case WM_TIMER:
      if (message.wparam == kTimerStartServices) {
        timers_.Kill(kTimerStartServices);
        RunWorkflow([this](const CancelFlag& cancel) { StartServices(cancel); });
      } else if (message.wparam == kTimerKeepAlive) {
        platform::Trace("%s", text::kTraceKeepAlive);
        caps_.admin->SendKeepAlive();
      }
      break;
    case WM_START_SERVICES:
      RunWorkflow([this](const CancelFlag& cancel) { StartServices(cancel); });
      break;
    case WM_FTP_STATE: {
      const uint16_t state = caps_.admin->ServerState();
      const bool running = (state & 0x01) != 0 && (state & 0x0E) == 0;
      {
        std::lock_guard lock(text_mutex_);
        server_status_text_ = running ? text::kServerRunning : text::kServerPreparing;
      }
      view_.SetText(Surface::kMain, drawn::kServerStatus, ServerStatusText());
      view_.Repaint(Surface::kMain);
      break;
    }
    case WM_FTP_CONNECTIONS:
      if (message.lparam != 0) RefreshUsers();
      break;
    case WM_FATAL_START_ERROR:
      FatalStartError(message.wparam);
      break;
    case WM_HELP_REQUEST:
      view_.OpenHelp(facts_.program_folder + "/" + kHelpPage);
      break;
    case WM_AUTOSTART_DONE: {
      if (autorun_thread_.joinable()) autorun_thread_.join();
      view_.Enable(Surface::kMain, ctl::kAutoRun, true);
      const auto problem = static_cast<AutoStartProblem>(message.wparam);
      if (problem == AutoStartProblem::kLingerRefused)
        view_.MessageBox(Surface::kMain, kBootStartNeedsLinger);
      else if (problem == AutoStartProblem::kNoBootStart)
        view_.MessageBox(Surface::kMain, kBootStartUnavailable);
      else if (problem == AutoStartProblem::kCronRefused)
        view_.MessageBox(Surface::kMain, kBootStartCronRefused);
      EnableApplyWhenFilled();
      break;
    }
    case WM_TRAY_NOTIFY:
      if (message.lparam == kTrayDoubleClick) ShowFromTray();
      break;
    default:
      break;
  }
}

void CQuarnoUIDlg::OnCommand(unsigned command) {
  if (command == kCmdTrayOpen) {
    ShowFromTray();
  } else if (command == kCmdCopyShareLink) {
    CopyShareLink();
  } else if (command == kCmdTrayExit) {
    platform::Trace("OnTrayExit");
    timers_.Kill(kTimerStartServices);
    runner_.Finish([this](const CancelFlag&) {
      ExitPath();
      view_.EndProgram(0);
    });
  }
}

void CQuarnoUIDlg::CopyShareLink() {
  std::string share;
  if (caps_.share && !account_.folder.empty()) {
    share = caps_.share->JunctionPath(account_.folder);
    share = share.substr(share.rfind('/') + 1);
  }
  const std::string link =
      registered_ && account_applied_ && !name_.empty() && !share.empty() && caps_.http
          ? caps_.http->ShareLink(name_ + "." + endpoints::kDdnsDomainSuffix, http_port_text_, account_.user,
                                  account_.password, share)
          : std::string();
  if (link.empty()) {
    view_.MessageBox(Surface::kMain, text::kShareLinkNotReady);
    return;
  }
  view_.CopyText(link);
  view_.MessageBox(Surface::kMain, text::kShareLinkCopied);
}

void CQuarnoUIDlg::ShowFromTray() {
  view_.ShowWindow(Surface::kMain, true);
  hidden_to_tray_ = false;
}

void CQuarnoUIDlg::OnCloseToTray() {
  view_.ShowWindow(Surface::kMain, false);
  hidden_to_tray_ = true;
}

void CQuarnoUIDlg::OnHelpClicked() { self_.Post(WM_HELP_REQUEST, 0, 0); }

void CQuarnoUIDlg::OnUnfoldClicked() {
  unfolded_ = !unfolded_;
  view_.Repaint(Surface::kMain);
}

void CQuarnoUIDlg::FatalStartError(std::uintptr_t code) {
  const char* message = nullptr;
  if (code == 1) message = text::kFatalDdns;
  if (code == 2) message = text::kFatalFtp;
  if (code == 3) message = text::kFatalUpnp;
  // The box needs an owner on screen.
  if (facts_.tray_start && message != nullptr) view_.ShowWindow(Surface::kMain, true);
  if (message != nullptr) view_.MessageBox(Surface::kMain, message);
  view_.EndProgram(0);
}

void CQuarnoUIDlg::RefreshUsers() {
  std::vector<ftpctl::ConnectionInfo> kept;
  std::vector<ListRow> rows;
  for (const auto& connection : caps_.admin->Connections()) {
    // The registration server's own reachability test is not a user.
    if (connection.address == ddns_server_address_) continue;
    char number[16];
    std::snprintf(number, sizeof number, " %d", static_cast<int>(rows.size() + 1));
    rows.push_back(ListRow{{number, connection.address, connection.time_text}});
    kept.push_back(connection);
  }
  {
    std::lock_guard lock(users_mutex_);
    users_ = std::move(kept);
  }
  view_.SetRows(Surface::kMain, ctl::kUsers, rows);
}

std::string CQuarnoUIDlg::StatusText() const {
  std::lock_guard lock(text_mutex_);
  return status_text_;
}

std::string CQuarnoUIDlg::ServerStatusText() const {
  std::lock_guard lock(text_mutex_);
  return server_status_text_;
}

void CQuarnoUIDlg::SetStatus(const std::string& status) {
  {
    std::lock_guard lock(text_mutex_);
    status_text_ = status;
  }
  view_.SetText(Surface::kMain, drawn::kRegistrationStatus, status);
  view_.Repaint(Surface::kMain);
}

void CQuarnoUIDlg::ShowMessage(const std::string& message) {
  view_.MessageBox(Surface::kMain, message);
}

bool CQuarnoUIDlg::Visible() { return view_.IsVisible(Surface::kMain); }

void CQuarnoUIDlg::BeginWaiting(const char* waiting_text) {
  if (!Visible()) return;
  view_.StartWaiting(Surface::kMain, waiting_text);
  waiting_ = true;
}

void CQuarnoUIDlg::EndWaiting() {
  if (!waiting_) return;
  view_.FinishWaiting();
  waiting_ = false;
}

void CQuarnoUIDlg::EnableApplyWhenFilled() {
  if (view_.Text(Surface::kMain, ctl::kFtpUser).empty() ||
      view_.Text(Surface::kMain, ctl::kFtpPassword).empty() ||
      view_.Text(Surface::kMain, ctl::kSharedFolder).empty()) {
    return;
  }
  view_.Enable(Surface::kMain, ctl::kApply, true);
  settings_pending_ = true;
}

void CQuarnoUIDlg::OnAutoRunClicked() {
  const bool checked = view_.Checked(Surface::kMain, ctl::kAutoRun);
  if (!autostart_.BootServiceExecutablePresent()) {
    view_.MessageBox(Surface::kMain, kBootServiceMissing);
    view_.SetChecked(Surface::kMain, ctl::kAutoRun, !checked);
    return;
  }
  if (autorun_thread_.joinable()) return;  // the box is disabled until 2031
  view_.Enable(Surface::kMain, ctl::kAutoRun, false);
  autorun_thread_ = std::thread([this, checked] {
    const AutoStartProblem problem = autostart_.ApplyAutoStart(checked);
    self_.Post(WM_AUTOSTART_DONE, static_cast<std::uintptr_t>(problem), 0);
  });
}

void CQuarnoUIDlg::ExitPath() {
  StopHealing();
  SwitchServers(nullptr, false, false, {});
  caps_.share->RemoveCurrentJunction();
  timers_.Kill(kTimerKeepAlive);
  view_.SetTrayIcon(false);
  caps_.ftp_service->StopService();
  // The log's last word on a run, so a reader tells an ending from a crash.
  WriteLog("서버를 멈추고 프로그램을 종료합니다.");
}

}  // namespace quarno::ui
