// The main window clicked through as a user would, on the offscreen platform:
// first registration of an address and the FTP account, against the lab
// simulators on loopback and a real quarno-ftpd.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "core/netprobe.h"
#include "core/settings.h"
#include "ftpctl/ftp_server.h"
#include "platform/service_manager.h"
#include "support/lab_simulator.h"
#include "unit/ui_qt/qt_env.h"
#include "support/temp_xdg.h"
#include "ui/autostart.h"
#include "ui/main_window.h"
#include "ui/qt/binding.h"
#include "ui/qt/dialogs.h"
#include "ui/qt/fonts.h"
#include "ui/qt/main_window.h"
#include "ui/qt/message_event.h"
#include "ui/qt/qt_view.h"
#include "ui/real_capabilities.h"
#include "ui/timers.h"

using namespace quarno;
using namespace quarno::qt;
using namespace std::chrono_literals;

namespace {

class NoAutoStart final : public ui::AutoStart {
 public:
  bool BootServiceExecutablePresent() override { return true; }
  bool IsAutoStartRegistered() override { return false; }
  ui::AutoStartProblem ApplyAutoStart(bool) override { return ui::AutoStartProblem::kNone; }
};

// Answers every message box with its first button and keeps the texts.
class BoxAnswerer : public QObject {
 public:
  BoxAnswerer() {
    connect(&poll_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box->buttons().isEmpty()) return;
      texts << box->text();
      box->buttons().first()->click();
    });
    poll_.start(30);
  }
  QStringList texts;

 private:
  QTimer poll_;
};

}  // namespace

class ClickThroughTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    InstallFontSubstitutions();
    setenv("QUARNO_FTPD_LISTEN", "127.0.0.1", 1);
  }

  void firstRegistrationAndAccount() {
    test::TempXdg xdg;
    test::LabSimulator router("router_sim.py", "127.0.0.2", {}, xdg.root() + "/router.json");
    test::LabSimulator igd("igd_sim.py", "127.0.0.2", {}, xdg.root() + "/igd.json");
    test::LabSimulator ddns("ddns_sim.py", "127.0.0.3", {}, xdg.root() + "/ddns.json");

    // The FTP daemon, as the initialization window leaves it running.
    auto manager = platform::MakeServiceManager();
    std::filesystem::create_directories(xdg.root() + "/first");
    ftpctl::FtpAccountValues first;
    first.user = "first";
    first.password = "first";
    first.shared_folder = xdg.root() + "/first";
    first.ftp_port = PickFreePort(20000, 25000);
    first.router_mac = {0x00, 0x08, 0x9f, 0x12, 0x34, 0x56};
    uint16_t admin_port = 0;
    QVERIFY(ftpctl::WriteFtpServerConfig(first, admin_port));
    QVERIFY(ftpctl::StartFtpService(*manager, QUARNO_FTPD_PROGRAM, 10s));
    // Stopped however the test ends.
    std::shared_ptr<void> stop_ftpd(nullptr, [&](void*) {
      platform::StopAndWait(*manager, ftpctl::kFtpServiceName, 5s);
    });

    MainWindow window;
    QtView view;
    view.SetMainWindow(&window);
    QtMessageSink sink(&window);
    ui::ThreadTimers timers;
    ui::WorldOptions options;
    options.ddns_host = ddns.address();
    options.ddns_port = ddns.port();
    options.router_port = router.port();
    options.ssdp_port = igd.ssdp_port();
    options.ssdp_timeout = 3000ms;
    options.http_listen_address = "127.0.0.1";
    ui::RealWorld world(sink, view, options);
    NoAutoStart autostart;
    ui::CQuarnoUIDlg dialog(view, timers, sink, world.Capabilities(), autostart);
    ui::StartupFacts& facts = dialog.Facts();
    facts.gateway = "127.0.0.2";
    facts.local_address = "127.0.0.1";
    facts.mac = {0x00, 0x08, 0x9f, 0x12, 0x34, 0x56};
    facts.admin_port = admin_port;
    facts.program_folder = QUARNO_SOURCE_DIR "/src/ui/qt";
    BindMainWindow(window, dialog, view);
    BoxAnswerer answerer;
    dialog.OnInitDialog();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The start-up stage finds no record: not registered.
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   return window.RegistrationStatus() == QStringLiteral("미등록") &&
                          !dialog.Runner().Busy();
                 },
                 60000),
             qPrintable(answerer.texts.join(" / ")));

    // Registration: typed, then the button.
    const uint16_t ftp_port = PickFreePort(20000, 25000);
    QTest::keyClicks(window.Control(ui::ctl::kName), QStringLiteral("haneul"));
    QTest::keyClicks(window.Control(ui::ctl::kEmail), QStringLiteral("haneul@example.com"));
    QTest::keyClicks(window.Control(ui::ctl::kPort), QString::number(ftp_port));
    QTest::keyClick(window.Control(ui::ctl::kPort), Qt::Key_Return);  // changes nothing
    QTest::mouseClick(window.Control(ui::ctl::kRegister), Qt::LeftButton);
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   return window.RegistrationStatus() == QStringLiteral("등록됨") &&
                          !dialog.Runner().Busy();
                 },
                 60000),
             qPrintable(answerer.texts.join(" / ") + " | " + window.RegistrationStatus()));
    QVERIFY(answerer.texts.contains(QStringLiteral("Quarno 계정이 등록되었습니다.")));
    QVERIFY(QString::fromStdString(ddns.State()).contains(QStringLiteral("haneul")));

    // The FTP account: typed, the folder chosen, then "설정저장".
    const std::string shared = xdg.root() + "/공유";
    std::filesystem::create_directories(shared);
    { std::ofstream(shared + "/hello.txt") << "hello\n"; }
    SetFolderChooserForTesting([&](QWidget*) { return QString::fromStdString(shared); });
    QTest::keyClicks(window.Control(ui::ctl::kFtpUser), QStringLiteral("sky"));
    QTest::keyClicks(window.Control(ui::ctl::kFtpPassword), QStringLiteral("blue2026"));
    QTest::mouseClick(window.Control(ui::ctl::kSharedFolder), Qt::LeftButton);
    QCOMPARE(window.ControlAs<QLineEdit>(ui::ctl::kSharedFolder)->text(),
             QString::fromStdString(shared));
    QVERIFY(window.Control(ui::ctl::kApply)->isEnabled());
    QTest::mouseClick(window.Control(ui::ctl::kApply), Qt::LeftButton);
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   return answerer.texts.contains(QStringLiteral("사용자 설정을 저장하였습니다.")) &&
                          !dialog.Runner().Busy();
                 },
                 60000),
             qPrintable(answerer.texts.join(" / ")));
    SetFolderChooserForTesting({});
    std::string stored;
    QVERIFY(ReadSetting("Ftp_user", stored));
    QCOMPARE(stored, std::string("sky"));

    // A real FTP client gets in with the account and sees the shared folder.
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("10"),
                QStringLiteral("--list-only"), QStringLiteral("--user"),
                QStringLiteral("sky:blue2026"),
                QStringLiteral("ftp://127.0.0.1:%1/").arg(ftp_port)});
    QVERIFY(curl.waitForFinished(15000));
    // The charset box stayed on its first entry: names travel in EUC-KR.
    const QByteArray listing = curl.readAllStandardOutput();
    QVERIFY2(curl.exitCode() == 0 && listing.contains(QByteArray("\xB0\xF8\xC0\xAF")),
             qPrintable(QStringLiteral("curl %1: %2").arg(curl.exitCode()).arg(listing.toHex())));

    // The tray's exit command runs the exit path and ends the loop.
    dialog.OnCommand(ui::kCmdTrayExit);
    QVERIFY(QTest::qWaitFor([&] { return view.Closing(); }, 30000));
    dialog.Runner().WaitIdle();
  }
};

int main(int argc, char** argv) {
  quarno::test::PrepareQtEnvironment();
  QApplication app(argc, argv);
  ClickThroughTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "click_through_test.moc"
