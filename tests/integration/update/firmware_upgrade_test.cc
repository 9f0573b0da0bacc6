// The firmware upload and the whole upgrade worker against lab/router_sim.py
// and lab/download_sim.py on loopback, with the waits' clock injected.
#include "update/firmware_upgrade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/log.h"
#include "platform/files.h"
#include "router/router_client.h"
#include "support/lab_simulator.h"
#include "support/loopback_peer.h"
#include "support/temp_xdg.h"

namespace quarno::update {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using test::LabSimulator;

class FirmwareUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = xdg_.root() + "/served";
    fs::create_directories(root_ + "/online_upgrade");
    for (int i = 0; i < 1025; ++i) firmware_ += static_cast<char>(i * 7 % 256);
    std::ofstream(root_ + "/online_upgrade/zq300_9_12.bin", std::ios::binary) << firmware_;
  }

  LabSimulator Router(std::vector<std::string> args = {}) {
    return LabSimulator("router_sim.py", "127.0.0.2", std::move(args),
                        xdg_.root() + "/router.json");
  }
  // Publishes 9.12 for zq300 with its manifest signed by the test key.
  LabSimulator Files(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--root", root_, "--sha256", "--version", "zq300=9.12"});
    if (std::find(args.begin(), args.end(), "--sign-key") == args.end())
      args.insert(args.end(), {"--sign-key", Key("test")});
    return LabSimulator("download_sim.py", "127.0.0.6", args, xdg_.root() + "/download.json");
  }
  static std::string Key(const std::string& name) {
    return std::string(QUARNO_SOURCE_DIR) + "/tests/fixtures/update/" + name + "-signing.pem";
  }
  FirmwareUpgradeJob Job(const LabSimulator& router, const LabSimulator& files) {
    FirmwareUpgradeJob job;
    job.router_address = router.address();
    job.router_port = router.port();
    job.firmware_server = files.address() + ":" + std::to_string(files.port());
    job.model_name = "zq300";
    job.latest_version = "9.12";
    job.router_firmware_version = "8.20";
    job.download_folder = xdg_.writable();
    return job;
  }
  // A clock that only moves when the worker sleeps; `real` also lets the
  // simulator's own (wall-clock) installation time pass.
  UpgradeHooks Hooks(milliseconds real = milliseconds(0)) {
    UpgradeHooks hooks;
    hooks.mark = [this](int step) { marks_.push_back(step); };
    hooks.start_animation = [this] { ++animations_; };
    hooks.now = [this] { return fake_now_; };
    hooks.sleep = [this, real](milliseconds d) {
      fake_now_ += d;
      std::this_thread::sleep_for(real);
    };
    return hooks;
  }
  double FakeSeconds() const {
    return std::chrono::duration<double>(fake_now_ - std::chrono::steady_clock::time_point{})
        .count();
  }

  test::TempXdg xdg_;
  std::string root_;
  std::string firmware_;
  std::vector<int> marks_;
  int animations_ = 0;
  std::chrono::steady_clock::time_point fake_now_{};
};

TEST_F(FirmwareUpgradeTest, UploadSendsTheFixedFormInBlocks) {
  // Byte for byte: header, part head, the 1025 bytes, tail.
  test::LoopbackPeer peer("127.0.0.2");
  peer.ReadUntil("--\r\n").Send("HTTP/1.1 200 OK\r\n\r\n").Close();
  peer.Start();
  const std::string path = root_ + "/online_upgrade/zq300_9_12.bin";
  UploadOptions options;
  options.port = peer.port();
  ASSERT_EQ(UploadFirmware(peer.address(), path, "zq300_9_12.bin", "", options), 0);
  const std::string head = UploadPartHead("zq300_9_12.bin");
  const std::string tail = UploadTail();
  EXPECT_EQ(peer.Received(),
            UploadRequestHeader(head.size() + tail.size() + 1025, "") + head + firmware_ + tail);
  EXPECT_EQ(peer.Received().find("Authorization"), std::string::npos);
}

TEST_F(FirmwareUpgradeTest, WholeUpgradeEndsWhenTheRouterIsBack) {
  LabSimulator router = Router({"--admin", "admin:1234", "--install-seconds", "0.5"});
  LabSimulator files = Files();
  FirmwareUpgradeJob job = Job(router, files);
  job.password_required = true;
  job.credential = MakeRouterCredential("admin", "1234");
  EXPECT_EQ(RunFirmwareUpgrade(job, Hooks(milliseconds(100))), kUpgradeOk);
  EXPECT_EQ(marks_, (std::vector<int>{kStepDownloaded, kStepTransferred, kStepInstallStarted}));
  EXPECT_EQ(animations_, 1);
  // The router answers "ZQ300"; the probe kept "zq300": back long before the cap.
  EXPECT_LT(FakeSeconds(), 30);
  const std::string state = router.State();
  EXPECT_NE(state.find("\"filename\": \"zq300_9_12.bin\""), std::string::npos);
  EXPECT_NE(state.find("\"size\": 1025"), std::string::npos);
  EXPECT_NE(state.find("\"phase\": \"idle\""), std::string::npos);
  EXPECT_TRUE(fs::exists(xdg_.writable() + "/zq300_9_12.bin"));
}

TEST_F(FirmwareUpgradeTest, RouterThatNeverComesBackEndsAfterNinetySeconds) {
  LabSimulator router = Router({"--install-seconds", "100000"});
  LabSimulator files = Files();
  EXPECT_EQ(RunFirmwareUpgrade(Job(router, files), Hooks()), kUpgradeOk);
  EXPECT_EQ(animations_, 1);  // many answers of 5, one animation
  EXPECT_GE(FakeSeconds(), 90);
  EXPECT_LT(FakeSeconds(), 92);
}

TEST_F(FirmwareUpgradeTest, RouterThatNeverTakesTheFileIsALostConnection) {
  LabSimulator router = Router({"--never-take"});
  LabSimulator files = Files();
  EXPECT_EQ(RunFirmwareUpgrade(Job(router, files), Hooks()), kUpgradeConnectionLost);
  EXPECT_EQ(marks_, (std::vector<int>{kStepDownloaded, kStepTransferred}));
  EXPECT_GE(FakeSeconds(), 60);
  EXPECT_LT(FakeSeconds(), 62);
  EXPECT_NE(router.State().find("\"phase\": \"idle\""), std::string::npos);  // never installed
}

TEST_F(FirmwareUpgradeTest, DownloadAndTransferFailuresAreTheirResults) {
  LabSimulator router = Router({"--admin", "admin:1234"});
  LabSimulator files = Files();
  FirmwareUpgradeJob job = Job(router, files);
  job.latest_version = "9.13";  // not published
  EXPECT_EQ(RunFirmwareUpgrade(job, Hooks()), kUpgradeDownloadFailed);
  EXPECT_TRUE(marks_.empty());
  // The router wants credentials; without the flag none are sent.
  job = Job(router, files);
  job.credential = MakeRouterCredential("admin", "1234");
  EXPECT_EQ(RunFirmwareUpgrade(job, Hooks()), kUpgradeTransferFailed);
  EXPECT_EQ(marks_, (std::vector<int>{kStepDownloaded}));
  job.model_name = "../zq300";
  EXPECT_EQ(RunFirmwareUpgrade(job, Hooks()), kUpgradeDownloadFailed);
}

TEST_F(FirmwareUpgradeTest, UntrustedFirmwareNeverReachesTheRouter) {
  LabSimulator router = Router();
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* log;
  } cases[] = {
      {"forged manifest", {"--tamper-manifest"}, "refused (forged)"},
      {"wrong key", {"--sign-key", Key("other")}, "refused (forged)"},
      {"expired", {"--manifest-expires", "2026-01-01T00:00:00Z"}, "refused (expired)"},
      {"older than the router's", {"--manifest-version", "8.10"}, "refused (rolled back)"},
  };
  for (const Case& c : cases) {
    ResetLogForTesting();
    marks_.clear();
    LabSimulator files = Files(c.args);
    EXPECT_EQ(RunFirmwareUpgrade(Job(router, files), Hooks()), kUpgradeDownloadFailed) << c.name;
    EXPECT_TRUE(marks_.empty()) << c.name;
    std::string log;
    platform::ReadFile(LogFilePath(), log);
    EXPECT_NE(log.find(c.log), std::string::npos) << c.name << ": " << log;
    EXPECT_FALSE(fs::exists(xdg_.writable() + "/zq300_9_12.bin")) << c.name;
  }
  // A genuine manifest for the model, but another file behind it.
  {
    LabSimulator files = Files();
    std::ofstream(root_ + "/online_upgrade/zq300_9_12.bin", std::ios::binary) << firmware_;
    std::string manifest;
    long status = 0;
    ASSERT_EQ(FetchText("http://127.0.0.6:" + std::to_string(files.port()) +
                            "/online_upgrade/zq300.manifest",
                        manifest, status),
              DownloadResult::kOk);
    std::ofstream(root_ + "/online_upgrade/zq300.manifest", std::ios::binary) << manifest;
    std::string forged = firmware_;
    forged[100] ^= 1;
    std::ofstream(root_ + "/online_upgrade/zq300_9_12.bin", std::ios::binary) << forged;
    marks_.clear();
    EXPECT_EQ(RunFirmwareUpgrade(Job(router, files), Hooks()), kUpgradeDownloadFailed);
    EXPECT_TRUE(marks_.empty());
  }
  EXPECT_EQ(router.State().find("zq300_9_12.bin"), std::string::npos);  // nothing uploaded
}

}  // namespace
}  // namespace quarno::update
