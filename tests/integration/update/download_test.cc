// Downloads and the version check against lab/download_sim.py on loopback.
#include "update/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/log.h"
#include "platform/files.h"
#include "support/lab_simulator.h"
#include "support/temp_xdg.h"
#include "update/program_update.h"
#include "update/sha256.h"

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
    std::ofstream(root_ + "/online_upgrade/quarno_pcserver_setup_1.07.deb", std::ios::binary)
        << "stand-in package";
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
  // The part continues only under the validator the server gave it (the
  // simulator's ETag is the first 20 hex digits of the file's SHA-256).
  const std::string etag = "\"" + FileSha256(root_ + "/online_upgrade/zq300_9_12.bin")->substr(0, 20) + "\"";
  std::ofstream(target_ + ".part", std::ios::binary) << payload_.substr(0, 30000);
  std::ofstream(target_ + ".part.validator") << etag;
  {
    LabSimulator sim = Server({"--sha256"});
    ASSERT_EQ(DownloadFile(Url(sim), target_), DownloadResult::kOk);
    EXPECT_EQ(Slurp(target_), payload_);
    EXPECT_NE(sim.State().find("bytes=30000-"), std::string::npos);
    EXPECT_NE(sim.State().find(etag.substr(1, 20)), std::string::npos);
    EXPECT_FALSE(fs::exists(target_ + ".part.validator"));
  }
  // A part whose file changed on the server, or without a validator: the
  // stale bytes are never joined to new ones.
  for (const char* validator : {"\"changed\"", ""}) {
    fs::remove(target_);
    std::ofstream(target_ + ".part", std::ios::binary) << std::string(30000, 'X');
    if (*validator) std::ofstream(target_ + ".part.validator") << validator;
    fs::remove(xdg_.root() + "/download.json");
    LabSimulator sim = Server({"--sha256"});
    ASSERT_EQ(DownloadFile(Url(sim), target_), DownloadResult::kOk) << validator;
    EXPECT_EQ(Slurp(target_), payload_) << validator;
    if (!*validator) {
      EXPECT_EQ(sim.State().find("bytes=30000-"), std::string::npos);
    }
  }
  // A server without ranges, and a stale part longer than the file: both start over.
  for (auto args :
       {std::vector<std::string>{"--no-range", "--sha256"}, std::vector<std::string>{"--sha256"}}) {
    fs::remove(target_);
    std::ofstream(target_ + ".part", std::ios::binary)
        << (args.size() == 2 ? payload_.substr(0, 100) : payload_ + "garbage");
    std::ofstream(target_ + ".part.validator") << etag;
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
  ProgramVersionCheck Check(const std::string& published, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--program-version", published});
    if (std::find(args.begin(), args.end(), "--sign-key") == args.end() &&
        std::find(args.begin(), args.end(), "--unsigned") == args.end())
      args.insert(args.end(), {"--sign-key", Key("test")});
    args.erase(std::remove(args.begin(), args.end(), "--unsigned"), args.end());
    LabSimulator sim = Server(args);
    RawHttpOptions options;
    options.port = sim.port();
    return CheckLatestProgramVersion(sim.address(), options,
                                     "http://127.0.0.6:" + std::to_string(sim.port()));
  }
  static std::string Key(const std::string& name) {
    return std::string(QUARNO_SOURCE_DIR) + "/tests/fixtures/update/" + name + "-signing.pem";
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
  EXPECT_EQ(newer.manifest.size, std::string("stand-in package").size());
}

TEST_F(VersionCheckTest, UntrustedManifestsOfferNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* log;
  } cases[] = {
      {"missing", {"--unsigned"}, "refused (missing): HTTP error (HTTP 404)"},
      {"forged", {"--tamper-manifest"}, "refused (forged)"},
      {"wrong key", {"--sign-key", Key("other")}, "refused (forged)"},
      {"expired", {"--manifest-expires", "2026-01-01T00:00:00Z"}, "refused (expired)"},
      {"downgrade", {"--manifest-version", "1.05"}, "refused (rolled back): version 1.05"},
      {"not from here", {"--manifest-min-version", "1.07"}, "refused (rolled back): it updates"},
  };
  for (const Case& c : cases) {
    ResetLogForTesting();
    const ProgramVersionCheck check = Check("1.07", c.args);
    EXPECT_TRUE(check.fetched) << c.name;
    EXPECT_FALSE(check.newer) << c.name;
    const std::string log = Slurp(LogFilePath());
    EXPECT_NE(log.find(c.log), std::string::npos) << c.name << ": " << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << c.name << ": " << log;
  }
}

TEST_F(DownloadTest, OnlyTheManifestsBytesAreKept) {
  const std::string digest = *FileSha256(root_ + "/online_upgrade/zq300_9_12.bin");
  struct Case {
    const char* name;
    uint64_t size;
    std::string sha256;
    DownloadResult result;
  } cases[] = {
      {"genuine", payload_.size(), digest, DownloadResult::kOk},
      {"other bytes", payload_.size(), std::string(64, '0'), DownloadResult::kChecksumMismatch},
      {"longer than named", payload_.size() - 1, digest, DownloadResult::kRefused},
      {"shorter than named", payload_.size() + 1, digest, DownloadResult::kRefused},
  };
  LabSimulator sim = Server({});
  for (const Case& c : cases) {
    fs::remove(target_);
    DownloadOptions options;
    options.expected_size = c.size;
    options.expected_sha256 = c.sha256;
    EXPECT_EQ(DownloadFile(Url(sim), target_, options), c.result) << c.name;
    EXPECT_EQ(fs::exists(target_), c.result == DownloadResult::kOk) << c.name;
    EXPECT_FALSE(fs::exists(target_ + ".part")) << c.name;
  }
  // No ".sha256" was asked for: the manifest's digest is the only one.
  EXPECT_EQ(sim.State().find(".sha256"), std::string::npos);
}

TEST_F(DownloadTest, RedirectsOnlyToTheSameHostOrHttps) {
  LabSimulator other("download_sim.py", "127.0.0.7", {"--root", root_},
                     xdg_.root() + "/other.json");
  const std::string port = std::to_string(other.port());
  LabSimulator sim = Server(
      {"--redirect", "/online_upgrade/away.bin=http://127.0.0.7:" + port +
                         "/online_upgrade/zq300_9_12.bin",
       "--redirect", "/online_upgrade/here.bin=/online_upgrade/zq300_9_12.bin"});
  EXPECT_EQ(DownloadFile(Url(sim, "away.bin"), target_), DownloadResult::kRefused);
  EXPECT_FALSE(fs::exists(target_));
  EXPECT_EQ(other.State().find("zq300"), std::string::npos);
  EXPECT_NE(Slurp(LogFilePath()).find("redirect to http://127.0.0.7:" + port), std::string::npos);
  ASSERT_EQ(DownloadFile(Url(sim, "here.bin"), target_), DownloadResult::kOk);
  EXPECT_EQ(Slurp(target_), payload_);
}

TEST_F(DownloadTest, PlainHttpWhenTheServerOffersNoHttps) {
  LabSimulator sim = Server({});
  std::string text, url;
  long status = 0;
  ASSERT_EQ(FetchTextFromServer("127.0.0.6:" + std::to_string(sim.port()),
                                "/online_upgrade/quarno_pcserver_setup_1.07.deb", text, status,
                                {}, 4096, &url),
            DownloadResult::kOk);
  EXPECT_EQ(text, "stand-in package");
  EXPECT_EQ(url, "http://127.0.0.6:" + std::to_string(sim.port()) +
                     "/online_upgrade/quarno_pcserver_setup_1.07.deb");
}

TEST_F(VersionCheckTest, UnreachableServerOnlyLogs) {
  RawHttpOptions options;
  options.port = 9;  // discard: nothing listens on loopback
  options.connect_timeout = std::chrono::milliseconds(1000);
  ProgramVersionCheck check = CheckLatestProgramVersion("127.0.0.6", options, "127.0.0.6:9");
  EXPECT_FALSE(check.fetched);
  EXPECT_FALSE(check.newer);
  EXPECT_NE(Slurp(LogFilePath()).find("Quarno Server 최신버전 정보를 가져오는데 실패하였습니다."),
            std::string::npos);
}

}  // namespace
}  // namespace quarno::update
