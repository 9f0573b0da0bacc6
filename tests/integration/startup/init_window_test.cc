// The initialization window and its pages driven through a fake view, with
// the router and download simulators on loopback: result codes, the firmware
// check, the credentials page, the upgrade and the program update offer.
#include "ui/init_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <thread>

#include "core/log.h"
#include "platform/files.h"
#include "startup_fakes.h"
#include "support/lab_simulator.h"
#include "support/temp_xdg.h"
#include "unit/ui/fakes.h"

namespace quarno::ui {
namespace {

namespace fs = std::filesystem;
using quarno::test::LabSimulator;
using std::chrono::milliseconds;

// Timers whose clock moves when a worker sleeps (plus a short real pause, so
// the simulators' own time passes too).
class FakeTimers final : public Timers {
 public:
  void Start(unsigned id, milliseconds, MessageSink*) override {
    std::lock_guard l(m);
    running.insert(id);
    started.push_back(id);
  }
  void Kill(unsigned id) override {
    std::lock_guard l(m);
    running.erase(id);
  }
  void Sleep(milliseconds d) override {
    {
      std::lock_guard l(m);
      now += d;
      slept += d;
    }
    std::this_thread::sleep_for(milliseconds(20));
  }
  std::chrono::steady_clock::time_point Now() override {
    std::lock_guard l(m);
    return now;
  }
  std::mutex m;
  std::set<unsigned> running;
  std::vector<unsigned> started;
  std::chrono::steady_clock::time_point now{};
  milliseconds slept{0};
};

class InitWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogForTesting();
    root_ = xdg_.root() + "/served";
    fs::create_directories(root_ + "/online_upgrade");
    std::ofstream(root_ + "/online_upgrade/zq300_9_12.bin", std::ios::binary)
        << std::string(3000, 'F');
    MakePackage("quarno", "1.07-1", root_ + "/online_upgrade/quarno_pcserver_setup_1.07.deb");
    installer_ = xdg_.root() + "/installer-stand-in";
    std::ofstream(installer_) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << xdg_.root()
                              << "/installer-args.tmp\"\nmv \"" << xdg_.root()
                              << "/installer-args.tmp\" \"" << xdg_.root() << "/installer-args\"\n";
    fs::permissions(installer_, fs::perms::owner_all);
    view_.rect = Rect{100, 200, 629, 542};
  }
  void TearDown() override {
    window_.reset();
    ResetLogForTesting();
  }
  // A real (empty) Debian package with these control fields.
  void MakePackage(const std::string& name, const std::string& version, const std::string& out) {
    const std::string dir = xdg_.root() + "/deb-" + name + "-" + version;
    fs::create_directories(dir + "/DEBIAN");
    std::ofstream(dir + "/DEBIAN/control")
        << "Package: " << name << "\nVersion: " << version
        << "\nArchitecture: all\nMaintainer: Test <test@example.invalid>\nDescription: stand-in\n";
    ASSERT_EQ(std::system(("dpkg-deb --root-owner-group --build '" + dir + "' '" + out +
                           "' >/dev/null")
                              .c_str()),
              0);
  }
  static std::string Key(const std::string& name) {
    return std::string(QUARNO_SOURCE_DIR) + "/tests/fixtures/update/" + name + "-signing.pem";
  }
  std::string Log() {
    std::string text;
    platform::ReadFile(LogFilePath(), text);
    return text;
  }

  void Start(std::vector<std::string> router_args, std::vector<std::string> files_args,
             bool tray = false) {
    router_ = std::make_unique<LabSimulator>("router_sim.py", "127.0.0.2", router_args,
                                             xdg_.root() + "/router.json");
    files_args.insert(files_args.begin(), {"--root", root_, "--sha256"});
    if (std::find(files_args.begin(), files_args.end(), "--sign-key") == files_args.end())
      files_args.insert(files_args.end(), {"--sign-key", Key("test")});
    files_ = std::make_unique<LabSimulator>("download_sim.py", "127.0.0.6", files_args,
                                            xdg_.root() + "/download.json");
    state_->Update([tray](StartupValues& v) { v.tray_start = tray; });
    InitWindowConfig config;
    RouterOptions options;
    options.port = router_->port();
    options.connect_timeout = options.receive_timeout = milliseconds(2000);
    options.credential = &credential_;
    router_client_ = std::make_unique<RouterClient>(options);
    config.caps.network = &network_;
    config.caps.router = router_client_.get();
    config.caps.ftp = &ftp_;
    config.caps.clock = &clock_;
    config.caps.make_home_folder = [](std::string& home) {
      home = "/tmp/zelhome";
      return true;
    };
    config.caps.resolve = [](const std::string& host) { return host; };
    config.credential = &credential_;
    config.router_port = router_->port();
    config.peers.firmware_info_host = config.peers.download_host = "127.0.0.6";
    config.peers.firmware_info_port = config.peers.download_port = files_->port();
    config.peers.connect_timeout = config.peers.receive_timeout = milliseconds(2000);
    const std::string server = "127.0.0.6:" + std::to_string(files_->port());
    config.firmware_server = server;
    config.download_folder = xdg_.writable();
    config.program_update.server = server;
    config.program_update.target_folder = xdg_.writable();
    config.program_update.installer = {installer_, "--from-quarno"};
    window_ = std::make_unique<CFirmware_Update>(view_, timers_, sink_, state_, config);
    window_->OnInitDialog();
  }
  // Delivers posted messages until `done` holds (or 60 s pass).
  template <typename Done>
  bool Pump(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (auto m = sink_.Wait(milliseconds(50))) window_->OnMessage(*m);
      if (done()) break;
    }
    return true;
  }
  // Delivers what is posted for a moment.
  void Drain() {
    const auto until = std::chrono::steady_clock::now() + milliseconds(300);
    while (std::chrono::steady_clock::now() < until)
      if (auto m = sink_.Wait(milliseconds(50))) window_->OnMessage(*m);
  }
  bool Ended() {
    std::lock_guard l(view_.m);
    return view_.init_ok.has_value() || view_.exit_code.has_value();
  }
  int Number(Surface s, int id) {
    std::lock_guard l(view_.m);
    return view_.numbers[{s, id}];
  }
  std::string Installed() {
    std::string text;
    for (int i = 0; i < 250 && !platform::ReadFile(xdg_.root() + "/installer-args", text); ++i)
      std::this_thread::sleep_for(milliseconds(20));
    return text;
  }

  quarno::test::TempXdg xdg_;
  std::string root_, installer_;
  test::FakeView view_;
  FakeTimers timers_;
  QueueSink sink_;
  std::shared_ptr<StartupState> state_ = std::make_shared<StartupState>();
  std::unique_ptr<LabSimulator> router_, files_;
  startup_test::FakeNetwork network_;
  startup_test::FakeFtp ftp_;
  startup_test::FakeClock clock_;
  RouterCredential credential_;
  std::unique_ptr<RouterClient> router_client_;
  std::unique_ptr<CFirmware_Update> window_;
};

TEST_F(InitWindowTest, CurrentEverythingGoesOnToTheMainWindow) {
  Start({}, {"--program-version", "1.06"});
  EXPECT_EQ(view_.Text(Surface::kInit, drawn::kProgramVersion), "1.06");
  EXPECT_EQ(timers_.started, std::vector<unsigned>{kTimerInitDots});
  ASSERT_TRUE(Pump([&] { return Ended(); }));
  window_->WaitForWorkers();
  EXPECT_EQ(view_.init_ok, true);
  EXPECT_TRUE(view_.questions.empty());
  EXPECT_TRUE(timers_.running.empty());
  EXPECT_EQ(view_.Text(Surface::kInit, drawn::kInitStatus), "정상적으로 완료하였습니다 ");
  ASSERT_TRUE(state_->HandOverRect());
  EXPECT_EQ(state_->HandOverRect()->right, 629);
}

TEST_F(InitWindowTest, FailureInTheTrayIsShownAndEndsTheProgram) {
  Start({"--checkup-status", "404 Not Found"}, {}, /*tray=*/true);
  ASSERT_TRUE(Pump([&] { return Ended(); }));
  EXPECT_EQ(view_.init_ok, false);
  EXPECT_EQ(view_.alpha, 255);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0],
            "Ralmek 공유기 연결에 실패하였습니다.\r\nRalmek 공유기와 정상적으로 연결되어 있는지 "
            "확인 하시기 바랍니다.");
  EXPECT_FALSE(state_->InitWindowEndedNormally());
}

TEST_F(InitWindowTest, NewerProgramDownloadedCheckedAndHandedToTheInstaller) {
  view_.answers = {Answer::kYes};
  Start({}, {"--program-version", "1.07"}, /*tray=*/true);
  ASSERT_TRUE(Pump([&] { return Ended(); }));
  window_->WaitForWorkers();
  EXPECT_EQ(view_.exit_code, 0);
  EXPECT_FALSE(view_.init_ok.has_value());
  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(view_.questions[0], "현재 버전(1.06)을 최신 버전(1.07)으로 업데이트 하시겠습니까?");
  EXPECT_EQ(view_.captions[0], "Quarno Server 업데이트");
  EXPECT_EQ(view_.alpha, 255);  // the question is seen in a tray start
  EXPECT_EQ(view_.waiting,
            (std::vector<std::string>{
                "업데이트에 필요한 파일을 다운로드 합니다.|잠시만 기다려 주시기 바랍니다.",
                "업데이트에 필요한 파일을 다운로드 하였습니다.|프로그램 종료 후 업데이트 설치가 "
                "시작됩니다."}));
  EXPECT_EQ(timers_.slept, milliseconds(3000));
  const std::string package = xdg_.writable() + "/quarno_pcserver_setup_1.07.deb";
  EXPECT_EQ(Installed(), "--from-quarno\n" + package + "\n");
  EXPECT_NE(files_->State().find("quarno_pcserver_setup.manifest"), std::string::npos);
}

TEST_F(InitWindowTest, UntrustedManifestMeansNoOffer) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* log;
  } cases[] = {
      {"forged manifest", {"--tamper-manifest"}, "refused (forged)"},
      {"wrong key", {"--sign-key", Key("other")}, "refused (forged)"},
      {"expired", {"--manifest-expires", "2026-01-01T00:00:00Z"}, "refused (expired)"},
      {"downgrade", {"--manifest-version", "1.05"}, "refused (rolled back): version 1.05"},
  };
  for (const Case& c : cases) {
    window_.reset();
    view_.init_ok.reset();
    ResetLogForTesting();
    view_.answers = {Answer::kYes};
    std::vector<std::string> args = {"--program-version", "1.07"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Start({}, args);
    ASSERT_TRUE(Pump([&] { return Ended(); })) << c.name;
    window_->WaitForWorkers();
    EXPECT_EQ(view_.init_ok, true) << c.name;
    EXPECT_TRUE(view_.questions.empty()) << c.name;
    EXPECT_TRUE(view_.waiting.empty()) << c.name;
    EXPECT_NE(Log().find(c.log), std::string::npos) << c.name << ": " << Log();
  }
  EXPECT_FALSE(fs::exists(xdg_.root() + "/installer-args"));
}

TEST_F(InitWindowTest, ForgedPackageIsNeverHandedToTheInstaller) {
  const std::string served = root_ + "/online_upgrade/quarno_pcserver_setup_1.07.deb";
  const std::string genuine_manifest = root_ + "/online_upgrade/quarno_pcserver_setup.manifest";
  struct Case {
    const char* name;
    std::function<void()> forge;
    const char* log;
  } cases[] = {
      // The manifest of the genuine package, then other bytes under its name.
      {"other bytes",
       [&] {
         std::string bytes;
         platform::ReadFile(served, bytes);
         bytes[bytes.size() / 2] ^= 1;
         std::ofstream(served, std::ios::binary) << bytes;
       },
       "SHA-256 does not match the manifest"},
      // Signed as it is, but not the program this is.
      {"other package", [&] { MakePackage("not-quarno", "1.07", served); fs::remove(genuine_manifest); },
       "is not quarno 1.07 by its control fields"},
      {"other version inside", [&] { MakePackage("quarno", "1.05", served); fs::remove(genuine_manifest); },
       "is not quarno 1.07 by its control fields"},
  };
  for (const Case& c : cases) {
    window_.reset();
    view_.init_ok.reset();
    view_.messages.clear();
    ResetLogForTesting();
    MakePackage("quarno", "1.07-1", served);
    ASSERT_EQ(std::system(("bash " QUARNO_SOURCE_DIR "/scripts/sign-update.sh manifest '" +
                           Key("test") + "' '" + served + "' 1.07 > '" + genuine_manifest + "'")
                              .c_str()),
              0);
    c.forge();
    view_.answers = {Answer::kYes};
    Start({}, {"--program-version", "1.07"});
    ASSERT_TRUE(Pump([&] { return Ended(); })) << c.name;
    window_->WaitForWorkers();
    EXPECT_EQ(view_.init_ok, true) << c.name;
    EXPECT_EQ(view_.messages,
              std::vector<std::string>{"업데이트에 필요한 파일 다운로드에 실패하였습니다."})
        << c.name;
    EXPECT_NE(Log().find(c.log), std::string::npos) << c.name << ": " << Log();
    EXPECT_FALSE(fs::exists(xdg_.writable() + "/quarno_pcserver_setup_1.07.deb")) << c.name;
  }
  EXPECT_FALSE(fs::exists(xdg_.root() + "/installer-args"));
}

TEST_F(InitWindowTest, DeclinedOrFailedUpdateGoesOnToTheMainWindow) {
  view_.answers = {Answer::kNo};
  Start({}, {"--program-version", "1.07"});
  ASSERT_TRUE(Pump([&] { return Ended(); }));
  window_->WaitForWorkers();
  EXPECT_EQ(view_.init_ok, true);
  EXPECT_TRUE(view_.waiting.empty());

  // Published and signed, but the package is missing on the server.
  const std::string served = root_ + "/online_upgrade/quarno_pcserver_setup_1.07.deb";
  ASSERT_EQ(std::system(("bash " QUARNO_SOURCE_DIR "/scripts/sign-update.sh manifest '" +
                         Key("test") + "' '" + served + "' 1.07 > '" + root_ +
                         "/online_upgrade/quarno_pcserver_setup.manifest'")
                            .c_str()),
            0);
  fs::remove(served);
  window_.reset();
  view_.init_ok.reset();
  view_.answers = {Answer::kYes};
  Start({}, {"--program-version", "1.07"});
  ASSERT_TRUE(Pump([&] { return Ended(); }));
  window_->WaitForWorkers();
  EXPECT_EQ(view_.init_ok, true);
  EXPECT_EQ(view_.messages,
            std::vector<std::string>{"업데이트에 필요한 파일 다운로드에 실패하였습니다."});
  EXPECT_FALSE(view_.exit_code.has_value());
  EXPECT_FALSE(fs::exists(xdg_.root() + "/installer-args"));
}

TEST_F(InitWindowTest, FirmwareUpgradeWithCredentials) {
  Start({"--firmware", "8.33", "--admin", "admin:1234", "--install-seconds", "0.3"},
        {"--version", "zq300=9.12", "--program-version", "1.06"});
  ASSERT_TRUE(Pump([&] { return view_.page == 0; }));
  Drain();
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(view_.Text(Surface::kFirmwareIntro, drawn::kModelName), "zq300");
  EXPECT_EQ(view_.Text(Surface::kFirmwareIntro, drawn::kFirmwareVersion), "8.33");
  EXPECT_EQ(view_.Text(Surface::kFirmwareIntro, drawn::kLatestFirmware), "9.12");
  window_->OnIntroNext();
  EXPECT_EQ(view_.page, 1);

  auto notice = [&] { return view_.Text(Surface::kAdminPassword, drawn::kAdminNotice); };
  view_.SetText(Surface::kAdminPassword, page_ctl::kAdminPassword, "1234");
  window_->OnAdminNext();
  window_->WaitForWorkers();
  EXPECT_EQ(notice(), "관리자 계정을 입력하세요");
  // The exchange shows the waiting window, as every long operation does.
  EXPECT_EQ(view_.waiting, std::vector<std::string>{"공유기 관리자 계정을 확인 중입니다.|잠시만 기다려 "
                                                    "주시기 바랍니다."});
  EXPECT_FALSE(view_.waiting_open);
  view_.SetText(Surface::kAdminPassword, page_ctl::kAdminUser, "admin");
  view_.SetText(Surface::kAdminPassword, page_ctl::kAdminPassword, "wrong");
  window_->OnAdminNext();
  window_->WaitForWorkers();
  EXPECT_EQ(notice(), "인증에 실패하였습니다.");
  EXPECT_EQ(view_.focus, (test::FakeView::Key{Surface::kAdminPassword, page_ctl::kAdminUser}));
  view_.SetText(Surface::kAdminPassword, page_ctl::kAdminPassword, "1234");
  window_->OnAdminNext();
  window_->WaitForWorkers();
  ASSERT_TRUE(Pump([&] { return view_.page == 2; }));
  EXPECT_TRUE(window_->UpgradeInProgress());
  window_->OnClose();  // refused while the router is being upgraded
  window_->OnIntroCancel();
  EXPECT_FALSE(view_.init_ok.has_value());

  ASSERT_TRUE(Pump([&] { return window_->UpgradeResult() != -1; }));
  EXPECT_EQ(window_->UpgradeResult(), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Number(Surface::kUpgrade, drawn::kUpgradeMark + i), 1);
  EXPECT_EQ(view_.Text(Surface::kUpgrade, drawn::kUpgradeStep + 1),
            "펌웨어 다운로드를 완료하였습니다.");
  EXPECT_EQ(view_.Text(Surface::kUpgrade, drawn::kUpgradeStep + 2),
            "Ralmek 공유기로 펌웨어 전송을 완료하였습니다.");
  EXPECT_EQ(view_.Text(Surface::kUpgrade, drawn::kUpgradeResult1),
            "펌웨어 업데이트를 완료하였습니다.");
  EXPECT_EQ(view_.Text(Surface::kUpgrade, drawn::kUpgradeResult2),
            "[다음] 버튼을 클릭 후 계속 진행하시기 바랍니다.");
  EXPECT_EQ(view_.Text(Surface::kUpgrade, page_ctl::kUpgradeFinish), "다음");
  EXPECT_EQ(Number(Surface::kUpgrade, drawn::kInstallDots), -1);
  EXPECT_TRUE(timers_.running.empty());
  EXPECT_NE(router_->State().find("\"filename\": \"zq300_9_12.bin\""), std::string::npos);

  window_->OnUpgradeFinish();
  window_->WaitForWorkers();
  EXPECT_EQ(view_.init_ok, true);
}

TEST_F(InitWindowTest, FirmwareNotReleasedForTheModel) {
  Start({"--firmware", "8.33"}, {"--version", "zq300=8.33"});
  ASSERT_TRUE(Pump([&] { return Ended(); }));
  EXPECT_EQ(view_.init_ok, false);
  EXPECT_EQ(view_.messages, std::vector<std::string>{
                                "해당 모델은 펌웨어 버전이 릴리즈 되지 않았습니다.\r\nRalmek에 "
                                "문의해 주시기 바랍니다."});
}

TEST_F(InitWindowTest, FailedUpgradeEndsTheProgram) {
  Start({"--firmware", "8.20"}, {"--version", "zq300=9.13"});  // no such file
  ASSERT_TRUE(Pump([&] { return view_.page == 0; }));
  Drain();
  window_->OnIntroNext();  // no credentials wanted: straight to the upgrade
  EXPECT_EQ(view_.page, 2);
  ASSERT_TRUE(Pump([&] { return window_->UpgradeResult() != -1; }));
  EXPECT_EQ(window_->UpgradeResult(), 1);
  EXPECT_EQ(view_.Text(Surface::kUpgrade, drawn::kUpgradeResult1),
            "펌웨어 다운로드에 실패하였습니다.");
  EXPECT_EQ(view_.Text(Surface::kUpgrade, drawn::kUpgradeResult2),
            "Ralmek 공유기와의 연결상태나 네트워크 상태를 확인하시기 바랍니다.");
  window_->OnUpgradeFinish();
  EXPECT_EQ(view_.init_ok, false);
}

}  // namespace
}  // namespace quarno::ui
