#include "ui/qt/app.h"

#include <QApplication>
#include <atomic>
#include <chrono>
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
#include "core/network_facts.h"
#include "ftpctl/ftp_server.h"
#include "platform/clock.h"
#include "router/router_client.h"
#include "ui/app_start.h"
#include "ui/init_sequence.h"
#include "ui/init_window.h"
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
  ui::AutoStartProblem ApplyAutoStart(bool enabled) override {
    return ui::ProblemOf(ui::ApplyAutoStart(enabled, manager_), enabled);
  }

 private:
  platform::ServiceManager& manager_;
};

// The machine's network facts, or the lab's gateway on loopback.
class LabNetworkFacts final : public NetworkFacts {
 public:
  explicit LabNetworkFacts(LabPeers lab) : lab_(std::move(lab)) {}
  bool NetworkReady() override { return lab_.gateway.empty() ? system_.NetworkReady() : true; }
  std::optional<std::string> DefaultGateway() override {
    if (lab_.gateway.empty()) return system_.DefaultGateway();
    return lab_.gateway;
  }
  std::optional<std::string> LocalAddressFor(const std::string& gateway) override {
    if (lab_.gateway.empty()) return system_.LocalAddressFor(gateway);
    return lab_.local_address.empty() ? std::string("127.0.0.1") : lab_.local_address;
  }
  std::optional<platform::MacAddress> GatewayMac(const std::string& gateway) override {
    if (lab_.gateway.empty()) return system_.GatewayMac(gateway);
    platform::MacAddress mac = {0x02, 0x00, 0x00, 0x12, 0x34, 0x56};
    ParseMacText(lab_.router_mac, mac);
    return mac;
  }
  bool IsPortFree(uint16_t port) override { return system_.IsPortFree(port); }
  std::optional<uint16_t> PickFreePort(uint16_t low, uint16_t high, uint16_t excluded) override {
    return system_.PickFreePort(low, high, excluded);
  }

 private:
  LabPeers lab_;
  SystemNetworkFacts system_;
};

// Joins the Qt initialization window and its pages to the start-up flow.
void BindInitWindow(CFirmware_Update& window, ui::CFirmware_Update& flow) {
  window.SetBound(true);
  QObject::connect(&window, &CFirmware_Update::MessageArrived, &window,
                   [&flow](unsigned id, quintptr wparam, qintptr lparam) {
                     flow.OnMessage(Message{id, wparam, lparam});
                   });
  QObject::connect(&window, &CFirmware_Update::MinimizeClicked, &window,
                   [&flow] { flow.OnMinimize(); });
  QObject::connect(&window, &CFirmware_Update::CloseClicked, &window, [&flow] { flow.OnClose(); });
  QObject::connect(window.Intro(), &CFirmwareIntro::NextClicked, &window,
                   [&flow] { flow.OnIntroNext(); });
  QObject::connect(window.Intro(), &CFirmwareIntro::CancelClicked, &window,
                   [&flow] { flow.OnIntroCancel(); });
  QObject::connect(window.Admin(), &CAdminPassword::NextClicked, &window,
                   [&flow] { flow.OnAdminNext(); });
  QObject::connect(window.Admin(), &CAdminPassword::BackClicked, &window,
                   [&flow] { flow.OnAdminBack(); });
  QObject::connect(window.Upgrade(), &CUpgrade::FinishClicked, &window,
                   [&flow] { flow.OnUpgradeFinish(); });
}

// Logging out, or `kill`, ends the program by the tray menu's exit path
// (servers offline, share link removed, FTP service stopped), not by dying
// with the servers still up. A second request, or an exit path that does not
// finish in time (a box left open), ends the process at once.
std::atomic<ui::CQuarnoUIDlg*> g_exit_target{nullptr};
constexpr auto kExitPathLimit = std::chrono::seconds(20);

void WatchStopRequests() {
  std::thread([] {
    const int first = platform::daemon::WaitForStopRequest();
    WriteLog("종료 신호(%d)를 받아 프로그램을 종료합니다.", first);
    QMetaObject::invokeMethod(
        qApp,
        [] {
          if (ui::CQuarnoUIDlg* dialog = g_exit_target.load()) {
            dialog->OnCommand(ui::kCmdTrayExit);
          } else {
            // Still initializing: nothing is served yet, as when the
            // initialization window is closed.
            platform::daemon::ExitNow(0);
          }
        },
        Qt::QueuedConnection);
    std::thread([] {
      std::this_thread::sleep_for(kExitPathLimit);
      WriteLog("종료 처리가 %lld초 안에 끝나지 않아 바로 종료합니다.",
               static_cast<long long>(kExitPathLimit.count()));
      platform::daemon::ExitNow(1);
    }).detach();
    platform::daemon::WaitForStopRequest();
    platform::daemon::ExitNow(1);
  }).detach();
}

}  // namespace

int RunQuarnoServer(int argc, char** argv) {
  SetLogFileName(kServerLogName);
  // Before any thread exists, so that every thread inherits the mask and only
  // the watcher sees the requests.
  platform::daemon::BlockStopSignals();
  WatchStopRequests();
  // The objects below live until the process ends: the initialization thread
  // is never joined and may still report while the program ends.
  auto* app = new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(QStringLiteral("Quarno Server"));
  QApplication::setWindowIcon(art::AppIcon());
  InstallFontSubstitutions();
  if (!InstallQtKoreanTexts())
    platform::Trace("Qt's Korean texts (qtbase_ko) not found: the folder chooser stays English");

  auto* view = new QtView;
  auto* mutex_holder = new std::unique_ptr<platform::NamedMutex>;
  auto state = std::make_shared<ui::StartupState>();
  auto* manager = platform::MakeServiceManager().release();
  if (ui::StartUp(*view, *manager, *state, *mutex_holder) == ui::StartOutcome::kAlreadyRunning)
    return 0;
  const bool tray_start = state->Get().tray_start;
  const LabPeers lab = LabPeers::FromEnvironment();

  // The initialization window and its flow.
  auto* network = new LabNetworkFacts(lab);
  auto* credential = new RouterCredential;
  RouterOptions router_options;
  if (lab.router_port != 0) router_options.port = lab.router_port;
  router_options.credential = credential;
  auto* router = new RouterClient(router_options);
  auto* ftp = new ftpctl::ServiceFtpServerControl(platform::MakeServiceManager());
  auto* clock = new platform::SystemClock;
  auto* timers = new ui::ThreadTimers;
  ui::InitWindowConfig config;
  config.caps.network = network;
  config.caps.router = router;
  config.caps.ftp = ftp;
  config.caps.clock = clock;
  config.credential = credential;
  config.router_port = router_options.port;
  config.peers.firmware_info_host = endpoints::kFirmwareHost;
  config.peers.download_host = endpoints::kDownloadHost;
  if (!lab.firmware.empty())
    SplitHostPort(lab.firmware, config.peers.firmware_info_host, config.peers.firmware_info_port);
  if (!lab.download.empty())
    SplitHostPort(lab.download, config.peers.download_host, config.peers.download_port);
  config.firmware_server = lab.firmware.empty() ? endpoints::kFirmwareHost : lab.firmware;
  config.download_folder = platform::WritableFolder();
  config.program_update.server = lab.download.empty() ? endpoints::kDownloadHost : lab.download;
  config.program_update.target_folder = platform::WritableFolder();

  auto* init = new CFirmware_Update(tray_start);
  view->SetInitWindow(init);
  auto* init_sink = new QtMessageSink(init);
  auto* flow = new ui::CFirmware_Update(*view, *timers, *init_sink, state, config);
  BindInitWindow(*init, *flow);
  flow->OnInitDialog();
  if (init->Exec() != CFirmware_Update::kOk) platform::daemon::ExitNow(0);

  // The main window.
  auto* main = new MainWindow;
  view->SetMainWindow(main);
  auto* sink = new QtMessageSink(main);
  ui::WorldOptions options;
  if (!lab.ddns.empty()) SplitHostPort(lab.ddns, options.ddns_host, options.ddns_port);
  if (lab.router_port != 0) options.router_port = lab.router_port;
  if (lab.ssdp_port != 0) options.ssdp_port = lab.ssdp_port;
  if (!lab.http_listen.empty()) options.http_listen_address = lab.http_listen;
  auto* world = new ui::RealWorld(*sink, *view, options);
  auto* autostart = new ProgramAutoStart(*manager);
  auto* dialog = new ui::CQuarnoUIDlg(*view, *timers, *sink, world->Capabilities(), *autostart);
  ui::HandOverToMainWindow(*state, dialog->Facts());
  dialog->Facts().program_folder = platform::ProgramFolder();
  BindMainWindow(*main, *dialog, *view);
  dialog->OnInitDialog();
  g_exit_target = dialog;
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
