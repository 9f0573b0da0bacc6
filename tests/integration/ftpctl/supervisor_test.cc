#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ftpctl/ftp_server.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "support/files.h"
#include "support/temp_xdg.h"

namespace quarno::platform {
namespace {

using namespace std::chrono_literals;

const std::string kHelper = QUARNO_CONTROL_HELPER;

int PidOf(const std::string& name) {
  std::ifstream in(RuntimeFolder() + "/" + name + ".pid");
  int pid = 0;
  in >> pid;
  return pid;
}

class SupervisorTest : public testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {"Quarno_Server", "Other"}) StopAndWait(*manager, name, 5s);
  }
  test::TempXdg xdg;
  std::unique_ptr<ServiceManager> manager = MakeServiceManager();  // builtin under TempXdg
};

TEST_F(SupervisorTest, ServiceLifecycleWithARealProgram) {
  ServiceConfig config{"Quarno_Server", "Quarno Server ftp", kHelper, StartType::kOnDemand};
  EXPECT_FALSE(manager->Start("Quarno_Server"));
  ASSERT_TRUE(manager->Create(config));
  EXPECT_FALSE(manager->Create(config));
  EXPECT_EQ(manager->Query("Quarno_Server"), ServiceState::kStopped);

  bool already = true;
  ASSERT_TRUE(manager->Start("Quarno_Server", &already));
  EXPECT_FALSE(already);
  EXPECT_EQ(manager->Query("Quarno_Server"), ServiceState::kRunning);
  EXPECT_FALSE(manager->Start("Quarno_Server", &already));
  EXPECT_TRUE(already);

  // Sent at once: the helper may not listen yet, the client waits for it.
  EXPECT_TRUE(manager->Control("Quarno_Server", 200, 2s));
  EXPECT_TRUE(ftpctl::SendFtpControl(*manager, ftpctl::kControlStopHttp, 2s));
  std::string reason;
  EXPECT_FALSE(SendControlCode(ControlSocketPath("Quarno_Server"), 250, 2s, &reason));
  EXPECT_EQ(reason, "unknown code");
  EXPECT_FALSE(manager->Control("Quarno_Server", 5, 2s));  // not a user code
  EXPECT_EQ(test::ReadFile(RuntimeFolder() + "/Quarno_Server.codes"), "200\n191\n250\n");

  ASSERT_TRUE(manager->Stop("Quarno_Server"));
  EXPECT_TRUE(WaitForServiceState(*manager, "Quarno_Server", ServiceState::kStopped, 5s));
  EXPECT_FALSE(manager->Stop("Quarno_Server"));
  EXPECT_FALSE(manager->Control("Quarno_Server", 200, 200ms));

  config.start_type = StartType::kDisabled;
  ASSERT_TRUE(manager->ChangeConfig(config));
  ServiceConfig read;
  ASSERT_TRUE(manager->QueryConfig("Quarno_Server", read));
  EXPECT_EQ(read.start_type, StartType::kDisabled);
  EXPECT_EQ(read.display_name, "Quarno Server ftp");
  EXPECT_FALSE(manager->Start("Quarno_Server"));
  ASSERT_TRUE(manager->Remove("Quarno_Server"));
  EXPECT_FALSE(manager->Exists("Quarno_Server"));
}

TEST_F(SupervisorTest, StalePidFileAndBoundedWait) {
  ASSERT_TRUE(manager->Create({"Other", "x", kHelper, StartType::kAutomatic}));
  // A pid that exists but with another start time is not the service.
  std::ofstream(RuntimeFolder() + "/Other.pid") << getpid() << " 1\n";
  EXPECT_EQ(manager->Query("Other"), ServiceState::kStopped);
  EXPECT_FALSE(std::filesystem::exists(RuntimeFolder() + "/Other.pid"));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitForServiceState(*manager, "Other", ServiceState::kRunning, 50ms, 0ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_FALSE(manager->Create({"../x", "x", kHelper, StartType::kAutomatic}));
}

TEST_F(SupervisorTest, StartFtpServiceCreatesRestartsAndCorrectsThePath) {
  ASSERT_TRUE(ftpctl::StartFtpService(*manager, kHelper, 5s));
  ServiceConfig read;
  ASSERT_TRUE(manager->QueryConfig("Quarno_Server", read));
  EXPECT_EQ(read.display_name, "Quarno Server ftp");
  EXPECT_EQ(read.start_type, StartType::kOnDemand);
  int first = PidOf("Quarno_Server");
  ASSERT_GT(first, 0);

  // Installed under another path and display name: path corrected, name kept.
  read.executable = "/nonexistent/quarno-ftpd";
  read.display_name = "Renamed";
  ASSERT_TRUE(manager->ChangeConfig(read));
  ASSERT_TRUE(ftpctl::StartFtpService(*manager, kHelper, 5s));
  int second = PidOf("Quarno_Server");
  EXPECT_NE(second, first);  // stopped and started again
  ASSERT_TRUE(manager->QueryConfig("Quarno_Server", read));
  EXPECT_EQ(read.executable, kHelper);
  EXPECT_EQ(read.display_name, "Renamed");
  EXPECT_EQ(manager->Query("Quarno_Server"), ServiceState::kRunning);

  ftpctl::StopFtpService(*manager);
  EXPECT_TRUE(WaitForServiceState(*manager, "Quarno_Server", ServiceState::kStopped, 5s));
  EXPECT_FALSE(ftpctl::StartFtpService(*manager, "/nonexistent/quarno-ftpd", 1s));
}

}  // namespace
}  // namespace quarno::platform
