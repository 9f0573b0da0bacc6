// The initialization sequence against lab/router_sim.py and
// lab/download_sim.py on loopback; the machine-facing steps are stand-ins
// except where a test says otherwise.
#include "ui/init_sequence.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <mutex>

#include "core/log.h"
#include "ftpctl/ftp_server.h"
#include "startup_fakes.h"
#include "support/lab_simulator.h"
#include "support/temp_xdg.h"

namespace quarno::ui {
namespace {

using std::chrono::milliseconds;
using test::LabSimulator;

class InitSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogForTesting();
    network_ = {};
    ftp_.executable_present = ftp_.starts = true;
    ftp_.prepared = 0;
    caps_.network = &network_;
    caps_.ftp = &ftp_;
    caps_.clock = &clock_;
    caps_.make_home_folder = [this](std::string& home) {
      home = xdg_.state() + "/quarno/zelhome";
      return home_ok_;
    };
    caps_.resolve = [](const std::string& host) { return host; };
    link_.set_status = [this](const std::string& s) { statuses_.push_back(s); };
    link_.set_opaque = [this](bool on) { opacity_.push_back(on); };
    link_.post_result = [this](int code) { posted_.push_back(code); };
    link_.firmware_update_needed = [this] { firmware_needed_ = true; };
    link_.newer_program = [this](bool newer) { newer_ = newer; };
  }
  void TearDown() override { ResetLogForTesting(); }

  void StartPeers(std::vector<std::string> router_args, std::vector<std::string> files_args) {
    router_ = std::make_unique<LabSimulator>("router_sim.py", "127.0.0.2", router_args,
                                             xdg_.root() + "/router.json");
    // A newer program is offered only with its signed manifest and package.
    const std::string root = xdg_.root() + "/served";
    std::filesystem::create_directories(root + "/online_upgrade");
    std::ofstream(root + "/online_upgrade/quarno_pcserver_setup_1.07.deb") << "package";
    files_args.insert(files_args.end(),
                      {"--root", root, "--sign-key",
                       QUARNO_SOURCE_DIR "/tests/fixtures/update/test-signing.pem"});
    files_ = std::make_unique<LabSimulator>("download_sim.py", "127.0.0.6", files_args,
                                            xdg_.root() + "/download.json");
  }
  InitPeers Peers() {
    RouterOptions options;
    options.port = router_->port();
    options.connect_timeout = options.receive_timeout = milliseconds(2000);
    options.credential = &credential_;
    router_client_ = std::make_unique<RouterClient>(options);
    caps_.router = router_client_.get();
    InitPeers peers;
    peers.firmware_info_host = peers.download_host = "127.0.0.6";
    peers.firmware_info_port = peers.download_port = files_->port();
    peers.connect_timeout = peers.receive_timeout = milliseconds(2000);
    return peers;
  }
  int Run() {
    const InitPeers peers = Peers();
    return InitializationThreadProc(state_, peers, caps_, link_, alive_);
  }

  test::TempXdg xdg_;
  std::unique_ptr<LabSimulator> router_, files_;
  StartupState state_;
  startup_test::FakeNetwork network_;
  startup_test::FakeFtp ftp_;
  startup_test::FakeClock clock_;
  RouterCredential credential_;
  std::unique_ptr<RouterClient> router_client_;
  InitCapabilities caps_;
  InitWindowLink link_;
  WindowAlive alive_ = std::make_shared<std::atomic<bool>>(true);
  bool home_ok_ = true;
  std::vector<std::string> statuses_;
  std::vector<bool> opacity_;
  std::vector<int> posted_;
  bool firmware_needed_ = false;
  bool newer_ = false;
};

TEST_F(InitSequenceTest, CurrentFirmwareRunsThroughWithoutAskingTheRouterMore) {
  StartPeers({}, {"--program-version", "1.06"});
  EXPECT_EQ(Run(), INIT_DONE);
  EXPECT_EQ(posted_, std::vector<int>{INIT_DONE});
  EXPECT_EQ(statuses_, (std::vector<std::string>{
                           "네트워크 연결상태를 확인합니다 ", "Quarno Server 초기화를 시작합니다 ",
                           "Ralmek 공유기와의 연결상태 조사합니다 ", "FTP 서버를 시작합니다 ",
                           "펌웨어 버전정보를 가져옵니다 ", "펌웨어 버전정보를 확인합니다 ",
                           "Quarno Server 최신버전을 확인합니다 ", "정상적으로 완료하였습니다 "}));
  EXPECT_FALSE(firmware_needed_);
  EXPECT_FALSE(newer_);
  const StartupValues v = state_.Get();
  EXPECT_EQ(v.router_address, "127.0.0.2");
  EXPECT_EQ(v.router_model, "zq300");
  EXPECT_EQ(FormatMac(v.router_mac), "00:08:9F:12:34:56");
  EXPECT_EQ(v.router_firmware_version, "8.34");
  EXPECT_EQ(v.admin_port, 31000);
  EXPECT_EQ(v.latest_program_version, "1.06");
  // Exactly 8.34: neither the sysinfo nor the latest-firmware request.
  EXPECT_NE(router_->State().find("\"sysinfo_requests\": 0"), std::string::npos);
  EXPECT_EQ(files_->State().find("zq300.version"), std::string::npos);
}

TEST_F(InitSequenceTest, OldFirmwareAsksForCredentialsAndTheLatestVersion) {
  StartPeers({"--firmware", "8.33", "--admin", "admin:1234"},
             {"--version", "zq300= 9.12\r\n", "--program-version", "1.07"});
  EXPECT_EQ(Run(), INIT_DONE);
  EXPECT_TRUE(firmware_needed_);
  EXPECT_TRUE(newer_);
  const StartupValues v = state_.Get();
  EXPECT_TRUE(v.router_password_required);
  EXPECT_EQ(v.latest_firmware_version, "9.12");
  EXPECT_EQ(v.latest_program_version, "1.07");
  EXPECT_NE(std::find(statuses_.begin(), statuses_.end(),
                      "Ralmek 서버에서 최신 펌웨어 버전정보를 가져옵니다 "),
            statuses_.end());
  EXPECT_NE(files_->State().find("GET /online_upgrade/zq300.version"), std::string::npos);
}

TEST_F(InitSequenceTest, SysinfoAcceptedWithoutCredentials) {
  StartPeers({"--firmware", "8.33"}, {"--version", "zq300=9.12"});
  EXPECT_EQ(Run(), INIT_DONE);
  EXPECT_TRUE(firmware_needed_);
  EXPECT_FALSE(state_.Get().router_password_required);
  EXPECT_NE(router_->State().find("\"sysinfo_requests\": 1"), std::string::npos);
}

TEST_F(InitSequenceTest, NetworkDownInTheTray) {
  StartPeers({}, {});
  state_.Update([](StartupValues& v) { v.tray_start = true; });
  network_.ready = false;
  EXPECT_EQ(Run(), INIT_ERR_NETWORK);
  EXPECT_EQ(clock_.slept, std::chrono::seconds(180));  // about three minutes, then give up
  EXPECT_EQ(posted_, std::vector<int>{INIT_ERR_NETWORK});
  EXPECT_EQ(statuses_.back(), "네트워크 연결이 되어있지 않아 연결될 때까지 3분간 대기합니다 ");
  EXPECT_EQ(opacity_, std::vector<bool>{true});  // the message must be seen
  EXPECT_STREQ(InitResultMessage(INIT_ERR_NETWORK),
               "네트워크에 연결할 수 없습니다.\r\n연결상태를 확인 하시기 바랍니다.");
}

TEST_F(InitSequenceTest, NotTheMakersRouter) {
  StartPeers({"--checkup-status", "404 Not Found"}, {});
  EXPECT_EQ(Run(), INIT_ERR_ROUTER);
  EXPECT_EQ(ftp_.prepared, 0);
  EXPECT_STREQ(InitResultMessage(INIT_ERR_ROUTER),
               "Ralmek 공유기 연결에 실패하였습니다.\r\nRalmek 공유기와 정상적으로 연결되어 "
               "있는지 확인 하시기 바랍니다.");
}

TEST_F(InitSequenceTest, FtpServerFailures) {
  StartPeers({}, {});
  {
    // The real control: no quarno-ftpd beside this test program.
    ftpctl::ServiceFtpServerControl real(platform::MakeBuiltinServiceManager());
    caps_.ftp = &real;
    EXPECT_EQ(Run(), INIT_ERR_FTP_EXE);
    caps_.ftp = &ftp_;
  }
  EXPECT_STREQ(InitResultMessage(INIT_ERR_FTP_EXE),
               "FTP Server 실행파일을 찾을 수 없습니다.\r\n올바른 경로에 있는지 확인하시기 "
               "바랍니다.~");
  SetUp();
  ftp_.starts = false;
  EXPECT_EQ(Run(), INIT_ERR_FTP_START);
  EXPECT_EQ(ftp_.started, "/opt/quarno/quarno-ftpd");
  EXPECT_STREQ(InitResultMessage(INIT_ERR_FTP_START),
               "FTP Server 실행에 실패하였습니다.\r\n잠시 후 다시 실행하시기 바랍니다.");
  // Taken over from the boot-up service: neither prepared nor started.
  SetUp();
  state_.Update([](StartupValues& v) {
    v.ftp_server_running = true;
    v.admin_port = 32000;
  });
  EXPECT_EQ(Run(), INIT_DONE);
  EXPECT_EQ(ftp_.prepared, 0);
  EXPECT_EQ(state_.Get().admin_port, 32000);
}

TEST_F(InitSequenceTest, HomeFolderFailure) {
  StartPeers({}, {});
  home_ok_ = false;
  EXPECT_EQ(Run(), INIT_ERR_HOME_FOLDER);
  EXPECT_STREQ(InitResultMessage(INIT_ERR_HOME_FOLDER),
               "공유폴더 생성에 실패하였습니다.\r\n잠시 후 다시 실행하시기 바랍니다.");
  EXPECT_STREQ(InitResultMessage(INIT_ERR_REGISTRY),
               "레지스트리 등록에 실패하였습니다.\r\n잠시 후 다시 실행하시기 바랍니다.");
  EXPECT_STREQ(InitResultMessage(INIT_DONE), "");
}

TEST_F(InitSequenceTest, UnreadableFirmwareOrUnreachableServersAreNetworkFailures) {
  StartPeers({"--fault-path", "/version", "--close-early"}, {});
  EXPECT_EQ(Run(), INIT_ERR_NETWORK);
  // Old firmware, but the firmware information server is gone.
  SetUp();
  StartPeers({"--firmware", "8.33"}, {});
  files_->Stop();
  EXPECT_EQ(Run(), INIT_ERR_NETWORK);
  // The program version alone never fails the start.
  SetUp();
  StartPeers({}, {});
  files_->Stop();
  EXPECT_EQ(Run(), INIT_DONE);
  EXPECT_FALSE(newer_);
}

TEST_F(InitSequenceTest, ClosedWindowGetsNoReport) {
  StartPeers({}, {});
  link_.set_status = [this](const std::string& s) {
    if (s == "FTP 서버를 시작합니다 ") alive_->store(false);
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(posted_.empty());
}

}  // namespace
}  // namespace quarno::ui
