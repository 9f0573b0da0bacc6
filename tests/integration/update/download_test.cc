// Downloads and the version check against lab/download_sim.py on loopback.
#include "update/download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/log.h"
#include "platform/files.h"
#include "support/lab_simulator.h"
#include "support/temp_xdg.h"
#include "update/program_update.h"

namespace quarno::update {
namespace {

namespace fs = std::filesystem;
using test::LabSimulator;

std::string Slurp(const std::string& path) {
  std::string text;
  platform::ReadFile(path, text);
  return text;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogForTesting();
    root_ = xdg_.root() + "/served";
    fs::create_directories(root_ + "/online_upgrade");
    for (int i = 0; i < 70000; ++i) payload_ += static_cast<char>('a' + i % 23);
    std::ofstream(root_ + "/online_upgrade/zq300_9_12.bin", std::ios::binary) << payload_;
    target_ = xdg_.writable() + "/zq300_9_12.bin";
  }
  void TearDown() override { ResetLogForTesting(); }

  LabSimulator Server(std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root_});
    return LabSimulator("download_sim.py", "127.0.0.6", std::move(args),
                        xdg_.root() + "/download.json");
  }
  std::string Url(const LabSimulator& sim, const std::string& file = "zq300_9_12.bin") {
    return "http://127.0.0.6:" + std::to_string(sim.port()) + "/online_upgrade/" + file;
  }

  test::TempXdg xdg_;
  std::string root_;
  std::string payload_;
  std::string target_;
};

TEST_F(DownloadTest, PublishedDigestMustMatchBeforeTheFileAppears) {
  {
    LabSimulator sim = Server({"--sha256"});
    uint64_t last_done = 0, last_total = 0;
    DownloadOptions options;
    options.progress = [&](uint64_t done, uint64_t total) {
      last_done = done;
      last_total = total;
    };
    ASSERT_EQ(DownloadFile(Url(sim), target_, options), DownloadResult::kOk);
    EXPECT_EQ(Slurp(target_), payload_);
    EXPECT_EQ(last_done, payload_.size());
    EXPECT_EQ(last_total, payload_.size());
    EXPECT_NE(sim.State().find(".bin.sha256"), std::string::npos);
  }
  fs::remove(target_);
  {
    LabSimulator sim = Server({"--sha256-wrong"});
    EXPECT_EQ(DownloadFile(Url(sim), target_), DownloadResult::kChecksumMismatch);
    EXPECT_FALSE(fs::exists(target_));
    EXPECT_FALSE(fs::exists(target_ + ".part"));
  }
  {
    // No digest published: the file is taken as it came.
    LabSimulator sim = Server({});
    EXPECT_EQ(DownloadFile(Url(sim), target_), DownloadResult::kOk);
    EXPECT_EQ(Slurp(target_), payload_);
  }
}

TEST_F(DownloadTest, MissingFileAndUnreachableServer) {
  LabSimulator sim = Server({"--sha256"});
  EXPECT_EQ(DownloadFile(Url(sim, "nothing.bin"), target_), DownloadResult::kHttpError);
  EXPECT_FALSE(fs::exists(target_));
  EXPECT_FALSE(fs::exists(target_ + ".part"));
  EXPECT_EQ(DownloadFile(Url(sim), xdg_.root() + "/no-such-folder/x.bin"),
            DownloadResult::kWriteError);
  const std::string dead = "http://127.0.0.6:" + std::to_string(sim.port()) + "/x";
  sim.Stop();
  DownloadOptions options;
  options.connect_timeout = std::chrono::milliseconds(2000);
  EXPECT_EQ(DownloadFile(dead, target_, options), DownloadResult::kNetworkError);
  // Only web protocols, also when a caller is handed another URL.
  EXPECT_NE(DownloadFile("file:///etc/passwd", target_), DownloadResult::kOk);
  EXPECT_FALSE(fs::exists(target_));
}

TEST_F(DownloadTest, InterruptedDownloadIsContinued) {
  std::ofstream(target_ + ".part", std::ios::binary) << payload_.substr(0, 30000);
  {
    LabSimulator sim = Server({"--sha256"});
    ASSERT_EQ(DownloadFile(Url(sim), target_), DownloadResult::kOk);
    EXPECT_EQ(Slurp(target_), payload_);
    EXPECT_NE(sim.State().find("bytes=30000-"), std::string::npos);
  }
  // A server without ranges, and a stale part longer than the file: both start over.
  for (auto args :
       {std::vector<std::string>{"--no-range", "--sha256"}, std::vector<std::string>{"--sha256"}}) {
    fs::remove(target_);
    std::ofstream(target_ + ".part", std::ios::binary)
        << (args.size() == 2 ? payload_.substr(0, 100) : payload_ + "garbage");
    LabSimulator sim = Server(args);
    ASSERT_EQ(DownloadFile(Url(sim), target_), DownloadResult::kOk) << args[0];
    EXPECT_EQ(Slurp(target_), payload_) << args[0];
    EXPECT_FALSE(fs::exists(target_ + ".part"));
  }
}

TEST_F(DownloadTest, CancelledDownloadLeavesNothing) {
  LabSimulator sim = Server({});
  DownloadOptions options;
  options.cancelled = [] { return true; };
  EXPECT_EQ(DownloadFile(Url(sim), target_, options), DownloadResult::kCancelled);
  EXPECT_FALSE(fs::exists(target_));
  EXPECT_FALSE(fs::exists(target_ + ".part"));
}

class VersionCheckTest : public DownloadTest {
 protected:
  ProgramVersionCheck Check(const std::string& published) {
    LabSimulator sim = Server({"--program-version", published});
    RawHttpOptions options;
    options.port = sim.port();
    return CheckLatestProgramVersion(sim.address(), options);
  }
};

TEST_F(VersionCheckTest, OnlyANewerPlainVersionIsOffered) {
  EXPECT_FALSE(Check("1.05").newer);
  EXPECT_FALSE(Check("1.06").newer);
  ProgramVersionCheck newer = Check(" 1.07\r\n");
  EXPECT_TRUE(newer.fetched);
  EXPECT_TRUE(newer.newer);
  EXPECT_EQ(newer.latest, "1.07");
  EXPECT_FALSE(Check("1.07/../../evil").newer);
}

TEST_F(VersionCheckTest, UnreachableServerOnlyLogs) {
  RawHttpOptions options;
  options.port = 9;  // discard: nothing listens on loopback
  options.connect_timeout = std::chrono::milliseconds(1000);
  ProgramVersionCheck check = CheckLatestProgramVersion("127.0.0.6", options);
  EXPECT_FALSE(check.fetched);
  EXPECT_FALSE(check.newer);
  EXPECT_NE(Slurp(LogFilePath()).find("Quarno Server 최신버전 정보를 가져오는데 실패하였습니다."),
            std::string::npos);
}

}  // namespace
}  // namespace quarno::update
