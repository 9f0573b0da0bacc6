#include "ui/init_window.h"

#include "core/log.h"
#include "router/router_client.h"
#include "update/version.h"

namespace quarno::ui {
namespace {

constexpr int kPageIntro = 0;
constexpr int kPageAdmin = 1;
constexpr int kPageUpgrade = 2;

// Fills the two "%s" of a text in order.
std::string Format2(std::string text, const std::string& a, const std::string& b) {
  std::size_t from = 0;
  for (const std::string* value : {&a, &b}) {
    const std::size_t at = text.find("%s", from);
    if (at == std::string::npos) break;
    text.replace(at, 2, *value);
    from = at + value->size();
  }
  return text;
}

// Per mille of a download, -1 while the size is unknown.
int PerMille(uint64_t done, uint64_t total) {
  return total == 0 ? -1 : static_cast<int>(done * 1000 / total);
}

}  // namespace

CFirmware_Update::CFirmware_Update(View& view, Timers& timers, MessageSink& self,
                                   std::shared_ptr<StartupState> state, InitWindowConfig config)
    : view_(view),
      timers_(timers),
      self_(self),
      state_(std::move(state)),
      config_(std::move(config)),
      runner_(view, Surface::kInit) {}

CFirmware_Update::~CFirmware_Update() {
  alive_->store(false);
  cancel_.Set();
  timers_.Kill(kTimerInitDots);
  if (upgrade_worker_.joinable()) upgrade_worker_.join();
}

void CFirmware_Update::WaitForWorkers() {
  runner_.WaitIdle();
  if (upgrade_worker_.joinable()) upgrade_worker_.join();
}

void CFirmware_Update::OnInitDialog() {
  view_.SetOpacity(Surface::kInit, TrayStart() ? 0 : 255);
  dots_ = 0;
  view_.SetText(Surface::kInit, drawn::kInitStatus, init_status::kStart);
  view_.SetNumber(Surface::kInit, drawn::kInitDots, 0);
  view_.SetText(Surface::kInit, drawn::kProgramVersion, update::ProgramVersion());
  view_.Repaint(Surface::kInit);
  dots_ = 1;
  timers_.Start(kTimerInitDots, std::chrono::milliseconds(200), &self_);

  // The thread may outlive this window (the user closes it during the
  // network wait): it holds its own copies and asks `alive` before each call.
  auto state = state_;
  auto alive = alive_;
  View* view = &view_;
  MessageSink* self = &self_;
  const InitPeers peers = config_.peers;
  const InitCapabilities caps = config_.caps;
  InitWindowLink link;
  link.set_status = [view](const std::string& text) {
    view->SetText(Surface::kInit, drawn::kInitStatus, text);
    view->Repaint(Surface::kInit);
  };
  link.set_opaque = [view](bool on) { view->SetOpacity(Surface::kInit, on ? 255 : 0); };
  link.post_result = [self](int code) {
    self->Post(WM_INIT_RESULT, static_cast<std::uintptr_t>(code), 0);
  };
  link.firmware_update_needed = [this] { firmware_update_needed_.store(true); };
  link.newer_program = [this](bool newer) { newer_program_.store(newer); };
  // The two flags above live in this object: they are set only while
  // `alive` holds, which the sequence checks before each call.
  std::thread([state, alive, peers, caps, link] {
    InitializationThreadProc(*state, peers, caps, link, alive);
  }).detach();
}

void CFirmware_Update::OnMessage(const Message& message) {
  switch (message.id) {
    case WM_INIT_RESULT:
      OnInitResult(static_cast<int>(message.wparam));
      break;
    case WM_UPGRADE_RESULT:
      OnUpgradeResult(static_cast<int>(message.wparam));
      break;
    case kMsgCredentialsAccepted:
      ShowUpgradePage();
      break;
    case WM_TIMER:
      if (message.wparam == kTimerInitDots) OnTimer();
      break;
    default:
      break;
  }
}

void CFirmware_Update::OnTimer() {
  if (installing_) {
    view_.SetNumber(Surface::kUpgrade, drawn::kInstallDots, install_dots_);
    install_dots_ = install_dots_ >= 15 ? 0 : install_dots_ + 1;
    view_.Repaint(Surface::kUpgrade);
    return;
  }
  view_.SetNumber(Surface::kInit, drawn::kInitDots, dots_);
  dots_ = dots_ >= 5 ? 0 : dots_ + 1;
  view_.Repaint(Surface::kInit);
}

void CFirmware_Update::OnInitResult(int code) {
  if (code == 0) {  // the firmware check page was shown
    OnIntroShown();
    return;
  }
  if (code < INIT_ERR_NETWORK || code > INIT_DONE) return;
  timers_.Kill(kTimerInitDots);
  view_.SetNumber(Surface::kInit, drawn::kInitDots, 0);
  view_.Repaint(Surface::kInit);
  if (code != INIT_DONE) {
    if (TrayStart()) view_.SetOpacity(Surface::kInit, 255);
    view_.MessageBox(Surface::kInit, InitResultMessage(code));
    if (!upgrade_in_progress_) view_.EndInit(false);
    return;
  }
  if (firmware_update_needed_) {
    if (TrayStart()) view_.SetOpacity(Surface::kInit, 255);
    ShowIntroPage();
  } else {
    OfferProgramUpdate();
  }
}

void CFirmware_Update::ShowIntroPage() {
  const StartupValues v = state_->Get();
  view_.SetText(Surface::kFirmwareIntro, drawn::kModelName, v.router_model);
  view_.SetText(Surface::kFirmwareIntro, drawn::kFirmwareVersion, v.router_firmware_version);
  view_.SetText(Surface::kFirmwareIntro, drawn::kLatestFirmware, v.latest_firmware_version);
  view_.ShowPage(kPageIntro);
  self_.Post(WM_INIT_RESULT, 0, 0);
}

void CFirmware_Update::OnIntroShown() {
  const StartupValues v = state_->Get();
  if (v.router_firmware_version == v.latest_firmware_version &&
      update::LeadingNumber(v.latest_firmware_version) < kMinimumFirmware) {
    view_.MessageBox(Surface::kFirmwareIntro, init_text::kNotReleased);
    if (!upgrade_in_progress_) view_.EndInit(false);
  }
}

void CFirmware_Update::OnIntroNext() {
  if (state_->Get().router_password_required) {
    view_.ShowPage(kPageAdmin);
  } else {
    ShowUpgradePage();
  }
}

void CFirmware_Update::OnIntroCancel() {
  if (!upgrade_in_progress_) view_.EndInit(false);
}

void CFirmware_Update::OnAdminNext() {
  const std::string user = view_.Text(Surface::kAdminPassword, page_ctl::kAdminUser);
  const std::string password = view_.Text(Surface::kAdminPassword, page_ctl::kAdminPassword);
  const std::string router = state_->Get().router_address;
  // The exchange may take up to 40 s: off the window's thread, the page dimmed.
  runner_.Run([this, user, password, router](const CancelFlag&) {
    view_.StartWaiting(Surface::kAdminPassword, init_text::kWaitCheckRouterAccount);
    const CredentialCheck check = config_.caps.router->CheckCredentials(router, user, password);
    view_.FinishWaiting();
    if (check.notice != kNoticeNone) {
      view_.SetText(Surface::kAdminPassword, drawn::kAdminNotice, AdminNoticeText(check.notice));
      view_.Repaint(Surface::kAdminPassword);
    }
    if (check.focus_user) view_.Focus(Surface::kAdminPassword, page_ctl::kAdminUser);
    if (check.focus_password) view_.Focus(Surface::kAdminPassword, page_ctl::kAdminPassword);
    if (check.accepted) self_.Post(kMsgCredentialsAccepted, 0, 0);
  });
}

void CFirmware_Update::OnAdminBack() { ShowIntroPage(); }

void CFirmware_Update::ShowUpgradePage() {
  if (upgrade_in_progress_.exchange(true)) return;
  if (upgrade_worker_.joinable()) upgrade_worker_.join();  // an earlier, finished run
  upgrade_result_ = -1;
  const char* steps[] = {init_text::kStepStart, init_text::kStepDownload, init_text::kStepTransfer,
                         init_text::kStepInstall};
  for (int i = 0; i < 4; ++i) {
    view_.SetText(Surface::kUpgrade, drawn::kUpgradeStep + i, steps[i]);
    view_.SetNumber(Surface::kUpgrade, drawn::kUpgradeMark + i, 0);
  }
  view_.SetNumber(Surface::kUpgrade, drawn::kInstallDots, -1);
  view_.SetText(Surface::kUpgrade, drawn::kUpgradeResult1, "");
  view_.SetText(Surface::kUpgrade, drawn::kUpgradeResult2, "");
  view_.ShowPage(kPageUpgrade);
  view_.Enable(Surface::kUpgrade, page_ctl::kUpgradeFinish, false);
  view_.SetNumber(Surface::kUpgrade, drawn::kUpgradeMark + update::kStepStarted, 1);
  view_.Repaint(Surface::kUpgrade);

  const StartupValues v = state_->Get();
  update::FirmwareUpgradeJob job;
  job.router_address = v.router_address;
  job.router_port = config_.router_port;
  job.firmware_server = config_.firmware_server;
  job.model_name = v.router_model;
  job.latest_version = v.latest_firmware_version;
  job.router_firmware_version = v.router_firmware_version;
  job.password_required = v.router_password_required;
  job.credential = config_.credential ? config_.credential->Get() : std::string();
  job.download_folder = config_.download_folder;
  job.download.cancelled = [this] { return static_cast<bool>(cancel_); };
  job.download.progress = [this](uint64_t done, uint64_t total) {
    view_.SetNumber(Surface::kUpgrade, drawn::kDownloadProgress, PerMille(done, total));
  };
  update::UpgradeHooks hooks;
  hooks.mark = [this](int step) {
    if (step == update::kStepDownloaded) {
      view_.SetText(Surface::kUpgrade, drawn::kUpgradeStep + step, init_text::kStepDownloaded);
      view_.SetNumber(Surface::kUpgrade, drawn::kDownloadProgress, -1);
    }
    if (step == update::kStepTransferred)
      view_.SetText(Surface::kUpgrade, drawn::kUpgradeStep + step, init_text::kStepTransferred);
    view_.SetNumber(Surface::kUpgrade, drawn::kUpgradeMark + step, 1);
    view_.Repaint(Surface::kUpgrade);
  };
  hooks.start_animation = [this] {
    installing_ = true;
    timers_.Start(kTimerInitDots, std::chrono::milliseconds(200), &self_);
  };
  hooks.now = [this] { return timers_.Now(); };
  hooks.sleep = [this](std::chrono::milliseconds d) { timers_.Sleep(d); };
  hooks.cancelled = [this] { return static_cast<bool>(cancel_); };
  upgrade_worker_ = std::thread([this, job, hooks] {
    const int result = update::RunFirmwareUpgrade(job, hooks);
    view_.SetNumber(Surface::kUpgrade, drawn::kDownloadProgress, -1);
    self_.Post(WM_UPGRADE_RESULT, static_cast<std::uintptr_t>(result), 0);
  });
}

void CFirmware_Update::OnUpgradeResult(int result) {
  timers_.Kill(kTimerInitDots);
  installing_ = false;
  view_.SetNumber(Surface::kUpgrade, drawn::kInstallDots, -1);
  view_.Enable(Surface::kUpgrade, page_ctl::kUpgradeFinish, true);
  upgrade_in_progress_ = false;
  upgrade_result_ = result;
  const char* first = nullptr;
  const char* second = init_text::kCheckConnection;
  switch (result) {
    case update::kUpgradeOk:
      first = init_text::kUpgradeDone;
      second = init_text::kUpgradeDoneNext;
      view_.SetText(Surface::kUpgrade, page_ctl::kUpgradeFinish, init_text::kNextButton);
      break;
    case update::kUpgradeDownloadFailed:
      first = init_text::kDownloadFailed;
      break;
    case update::kUpgradeTransferFailed:
      first = init_text::kTransferFailed;
      break;
    default:
      first = init_text::kConnectionLost;
      break;
  }
  view_.SetText(Surface::kUpgrade, drawn::kUpgradeResult1, first);
  view_.SetText(Surface::kUpgrade, drawn::kUpgradeResult2, second);
  view_.Repaint(Surface::kUpgrade);
}

void CFirmware_Update::OnUpgradeFinish() {
  if (upgrade_in_progress_) return;
  if (upgrade_result_ == update::kUpgradeOk) {
    OfferProgramUpdate();
  } else {
    view_.EndInit(false);
  }
}

void CFirmware_Update::OnMinimize() {
  if (auto rect = view_.WindowRect(Surface::kInit))
    state_->SaveInitWindowRect({rect->left, rect->top, rect->right, rect->bottom});
}

void CFirmware_Update::OnClose() {
  if (!upgrade_in_progress_) view_.EndInit(false);
}

void CFirmware_Update::OfferProgramUpdate() {
  WindowRect place;
  if (auto rect = view_.WindowRect(Surface::kInit))
    place = {rect->left, rect->top, rect->right, rect->bottom};
  state_->MarkInitWindowEndedNormally(place);
  if (!newer_program_) {
    view_.EndInit(true);
    return;
  }
  const std::string latest = state_->Get().latest_program_version;
  // The question and the download run off the window's thread: the download
  // may take minutes and the window keeps painting meanwhile.
  runner_.Run([this, latest](const CancelFlag& cancel) {
    if (TrayStart()) view_.SetOpacity(Surface::kInit, 255);
    const Answer answer = view_.AskYesNo(
        Surface::kInit, Format2(init_text::kUpdateQuestion, update::ProgramVersion(), latest),
        init_text::kUpdateCaption, Icon::kQuestion);
    if (answer != Answer::kYes) {
      view_.EndInit(true);
      return;
    }
    update::ProgramUpdateOptions options = config_.program_update;
    options.download.cancelled = [&cancel] { return static_cast<bool>(cancel); };
    options.download.progress = [this](uint64_t done, uint64_t total) {
      view_.SetNumber(Surface::kInit, drawn::kDownloadProgress, PerMille(done, total));
    };
    view_.StartWaiting(Surface::kInit, init_text::kUpdateDownloading);
    std::string package;
    const update::DownloadResult result = update::DownloadSetup(latest, options, package);
    view_.SetNumber(Surface::kInit, drawn::kDownloadProgress, -1);
    view_.FinishWaiting();
    if (result != update::DownloadResult::kOk) {
      view_.MessageBox(Surface::kInit, init_text::kUpdateDownloadFailed);
      view_.EndInit(true);
      return;
    }
    view_.StartWaiting(Surface::kInit, init_text::kUpdateDownloaded);
    timers_.Sleep(std::chrono::milliseconds(3000));
    const bool started = update::StartInstaller(package, options);
    view_.FinishWaiting();
    if (!started) {
      // Ending now would leave the user with neither the update nor the program.
      view_.MessageBox(Surface::kInit, init_text::kInstallerFailed);
      view_.EndInit(true);
      return;
    }
    view_.EndProgram(0);
  });
}

}  // namespace quarno::ui
