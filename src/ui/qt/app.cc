#include "ui/qt/app.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "core/log.h"
#include "core/netprobe.h"
#include "platform/daemon.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "platform/trace.h"
#include "share/home_tree.h"
#include "ui/autostart.h"
#include "ui/init_sequence.h"
#include "ui/main_window.h"
#include "ui/qt/artwork.h"
#include "ui/qt/binding.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/fonts.h"
#include "ui/qt/init_window.h"
#include "ui/qt/main_window.h"
#include "ui/qt/message_event.h"
#include "ui/qt/pages.h"
#include "ui/qt/qt_view.h"
#include "ui/real_capabilities.h"
#include "ui/startup.h"
#include "ui/timers.h"

namespace quarno::qt {
namespace {

constexpr char kNotReleasedText[] =
    "해당 모델은 펌웨어 버전이 릴리즈 되지 않았습니다.\r\nRalmek에 문의해 주시기 바랍니다.";

// The lab and the tests put every peer on loopback through these variables;
// without them the program asks the machine for its gateway and uses the
// built-in server names.
struct LabPeers {
  std::string gateway, local_address, router_mac, ddns, firmware, download, http_listen;
  uint16_t router_port = 0, ssdp_port = 0;

  static std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
  }
  static LabPeers FromEnvironment() {
    LabPeers p;
    p.gateway = Env("QUARNO_LAB_GATEWAY");
    p.local_address = Env("QUARNO_LAB_LOCAL_ADDRESS");
    p.router_mac = Env("QUARNO_LAB_ROUTER_MAC");
    p.ddns = Env("QUARNO_LAB_DDNS");
    p.firmware = Env("QUARNO_LAB_FIRMWARE");
    p.download = Env("QUARNO_LAB_DOWNLOAD");
    p.http_listen = Env("QUARNO_LAB_HTTP_LISTEN");
    p.router_port = static_cast<uint16_t>(std::atoi(Env("QUARNO_LAB_ROUTER_PORT").c_str()));
    p.ssdp_port = static_cast<uint16_t>(std::atoi(Env("QUARNO_LAB_SSDP_PORT").c_str()));
    return p;
  }
};

// "host:port" into its parts; the port stays as given when there is none.
void SplitHostPort(const std::string& text, std::string& host, uint16_t& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) {
    host = text;
    return;
  }
  host = text.substr(0, colon);
  port = static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1));
}

bool ParseMacText(const std::string& text, platform::MacAddress& mac) {
  unsigned b[6];
  if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
    return false;
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
  return true;
}

// The auto-start option as the main window asks for it.
class ProgramAutoStart final : public ui::AutoStart {
 public:
  explicit ProgramAutoStart(platform::ServiceManager& manager) : manager_(manager) {}
  bool BootServiceExecutablePresent() override {
    return platform::PathExists(ui::BootServiceExecutablePath());
  }
  bool IsAutoStartRegistered() override { return ui::IsAutoStartRegistered(); }
  bool ApplyAutoStart(bool enabled) override {
    const ui::AutoStartResult result = ui::ApplyAutoStart(enabled, manager_);
    return result.entry_ok && result.boot_service_ok;
  }

 private:
  platform::ServiceManager& manager_;
};

// What the initialization thread shares with the window; it may outlive the
// window (the user closed it), so it is owned jointly.
struct InitShared {
  ui::StartupState state;
  std::unique_ptr<platform::ServiceManager> manager;
  ui::InitPeers peers;
  ui::InitSteps steps;
  ui::WindowAlive alive = std::make_shared<std::atomic<bool>>(true);
  std::atomic<bool> firmware_update_needed{false};
  std::atomic<bool> newer_program{false};
};

// The initialization window's reactions to its checks and its pages.
class InitFlow : public QObject {
 public:
  InitFlow(CFirmware_Update& window, QtView& view, std::shared_ptr<InitShared> shared)
      : window_(window), view_(view), shared_(std::move(shared)) {
    connect(&window_, &CFirmware_Update::MessageArrived, this,
            [this](unsigned id, quintptr wparam, qintptr) {
              if (id == WM_INIT_RESULT) OnInitResult(static_cast<int>(wparam));
            });
    connect(window_.Intro(), &CFirmwareIntro::Shown, this, [this] {
      // The page checks, each time it is shown, that there is something to
      // update to (the page's own WM_INIT_RESULT with 0).
      QtMessageSink(&window_).Post(WM_INIT_RESULT, 0, 0);
    });
    connect(window_.Intro(), &CFirmwareIntro::NextClicked, this, [this] {
      window_.ShowPage(shared_->state.Get().router_password_required ? 1 : 2);
    });
    connect(window_.Intro(), &CFirmwareIntro::CancelClicked, this, [this] { Cancel(); });
    connect(window_.Admin(), &CAdminPassword::BackClicked, this, [this] { window_.ShowPage(0); });
  }

 private:
  void Cancel() {
    if (!window_.UpgradeInProgress()) window_.End(CFirmware_Update::kCancel);
  }
  void OnInitResult(int code) {
    const ui::StartupValues values = shared_->state.Get();
    if (code == 0) {
      if (window_.CurrentPage() != 0) return;
      if (values.router_firmware_version == values.latest_firmware_version &&
          std::atof(values.latest_firmware_version.c_str()) < ui::kMinimumFirmware) {
        ShowMessageBox(&window_, QString::fromUtf8(kNotReleasedText));
        Cancel();
      }
      return;
    }
    if (code < ui::INIT_ERR_NETWORK || code > ui::INIT_DONE) return;
    window_.StopDots();
    if (code != ui::INIT_DONE) {
      if (values.tray_start) view_.ShowWindow(ui::Surface::kInit, true);
      ShowMessageBox(&window_, QString::fromUtf8(ui::InitResultMessage(code)));
      Cancel();
      return;
    }
    if (shared_->firmware_update_needed) {
      if (values.tray_start) view_.ShowWindow(ui::Surface::kInit, true);
      window_.Intro()->SetVersions(QString::fromStdString(values.router_model),
                                   QString::fromStdString(values.router_firmware_version),
                                   QString::fromStdString(values.latest_firmware_version));
      window_.ShowPage(0);
      return;
    }
    window_.End(CFirmware_Update::kOk);
  }

  CFirmware_Update& window_;
  QtView& view_;
  std::shared_ptr<InitShared> shared_;
};

}  // namespace

int RunQuarnoServer(int argc, char** argv) {
  SetLogFileName(kServerLogName);
  // The objects below live until the process ends: the initialization thread
  // is never joined and may still report while the program ends.
  auto* app = new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(QStringLiteral("Quarno Server"));
  QApplication::setWindowIcon(art::AppIcon());
  InstallFontSubstitutions();

  auto* mutex_holder = new std::unique_ptr<platform::NamedMutex>;
  if (ui::AcquireStartMutex(*mutex_holder) == platform::NamedMutex::Result::kAlreadyExists) {
    ShowMessageBox(nullptr, QString::fromUtf8(ui::kAlreadyRunningText));
    return 0;
  }

  const LabPeers lab = LabPeers::FromEnvironment();
  auto shared = std::make_shared<InitShared>();
  shared->manager = platform::MakeServiceManager();
  const int taken_port = ui::TakeOverFromBootService(*shared->manager);
  if (taken_port != 0) {
    WriteLog("부팅시 자동으로 실행되었습니다. [%d]", taken_port);
  } else {
    WriteLog("프로그램이 시작되었습니다.");
    share::RemoveHomeJunctions();
  }
  const bool tray_start = ui::ReadTrayStartFlag();
  shared->state.Update([&](ui::StartupValues& v) {
    v.tray_start = tray_start;
    v.ftp_server_running = taken_port != 0;
    v.admin_port = static_cast<uint16_t>(taken_port);
  });

  shared->steps = ui::MakeInitSteps(*shared->manager);
  ui::InitPeers& peers = shared->peers;
  if (!lab.gateway.empty()) {
    peers.router.find_gateway = [lab](GatewayInfo& info) {
      info.gateway = lab.gateway;
      info.local_address = lab.local_address.empty() ? "127.0.0.1" : lab.local_address;
      info.mac = {0x02, 0x00, 0x00, 0x12, 0x34, 0x56};
      ParseMacText(lab.router_mac, info.mac);
      return true;
    };
    // The lab's network is loopback: it is always there.
    shared->steps.network_alive = [] { return true; };
    shared->steps.wait_for_network = [] { return true; };
  }
  if (lab.router_port != 0) peers.router.port = lab.router_port;
  peers.firmware_info_host = endpoints::kFirmwareHost;
  peers.download_host = endpoints::kDownloadHost;
  if (!lab.firmware.empty()) SplitHostPort(lab.firmware, peers.firmware_info_host, peers.firmware_info_port);
  if (!lab.download.empty()) SplitHostPort(lab.download, peers.download_host, peers.download_port);

  auto* view = new QtView;
  auto* init = new CFirmware_Update(tray_start);
  view->SetInitWindow(init);
  auto* flow = new InitFlow(*init, *view, shared);
  (void)flow;

  ui::InitWindowLink link;
  link.set_status = [init](const std::string& text) {
    init->SetStatus(QString::fromStdString(text));
  };
  link.set_opaque = [view](bool opaque) { view->SetOpacity(ui::Surface::kInit, opaque ? 255 : 0); };
  auto init_sink = std::make_shared<QtMessageSink>(init);
  link.post_result = [init_sink](int code) {
    init_sink->Post(WM_INIT_RESULT, static_cast<std::uintptr_t>(code), 0);
  };
  link.firmware_update_needed = [shared] { shared->firmware_update_needed = true; };
  link.newer_program = [shared](bool newer) { shared->newer_program = newer; };
  std::thread([shared, link] {
    ui::InitializationThreadProc(shared->state, shared->peers, shared->steps, link, shared->alive);
  }).detach();

  const int init_result = init->Exec();
  if (init_result != CFirmware_Update::kOk) {
    shared->alive->store(false);
    platform::daemon::ExitNow(0);
  }

  // The main window.
  const ui::StartupValues values = shared->state.Get();
  auto* main = new MainWindow;
  view->SetMainWindow(main);
  auto* sink = new QtMessageSink(main);
  auto* timers = new ui::ThreadTimers;
  ui::WorldOptions options;
  if (!lab.ddns.empty()) SplitHostPort(lab.ddns, options.ddns_host, options.ddns_port);
  if (lab.router_port != 0) options.router_port = lab.router_port;
  if (lab.ssdp_port != 0) options.ssdp_port = lab.ssdp_port;
  if (!lab.http_listen.empty()) options.http_listen_address = lab.http_listen;
  auto* world = new ui::RealWorld(*sink, *view, options);
  auto* autostart = new ProgramAutoStart(*shared->manager);
  auto* dialog = new ui::CQuarnoUIDlg(*view, *timers, *sink, world->Capabilities(), *autostart);
  ui::StartupFacts& facts = dialog->Facts();
  facts.gateway = values.router_address;
  facts.local_address = values.local_address;
  ParseMacText(values.router_mac, facts.mac);
  facts.ftp_server_running = values.ftp_server_running;
  facts.admin_port = values.admin_port;
  facts.tray_start = tray_start;
  facts.program_folder = platform::ProgramFolder();
  if (init->SavedRect().isValid()) {
    const QRect r = init->SavedRect();
    facts.init_rect = ui::Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
  }
  BindMainWindow(*main, *dialog, *view);
  dialog->OnInitDialog();
  if (tray_start) {
    main->SetHiddenToTray(true);
  } else {
    main->show();
  }
  const int code = app->exec();
  platform::Trace("quarno-server ends (%d)", code);
  // The exit path has run (or a start-up error ends the process at once):
  // nothing is left that must be torn down in order.
  platform::daemon::ExitNow(code);
}

}  // namespace quarno::qt
