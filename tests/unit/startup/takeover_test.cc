// The hand-over from a running boot-up service, with the built-in supervisor
// and a stand-in program for the service.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/log.h"
#include "core/settings.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "share/home_tree.h"
#include "support/temp_xdg.h"
#include "ui/app_start.h"
#include "ui/startup.h"
#include "unit/ui/fakes.h"

namespace quarno::ui {
namespace {

using platform::ServiceState;

class TakeOverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = platform::MakeBuiltinServiceManager();
    stand_in_ = xdg_.root() + "/boot-stand-in";
    std::ofstream(stand_in_) << "#!/bin/sh\nexec sleep 30\n";
    std::filesystem::permissions(stand_in_, std::filesystem::perms::owner_all);
    ASSERT_TRUE(manager_->Create(
        {kBootServiceName, "Quarno Bootup Service", stand_in_, platform::StartType::kAutomatic}));
  }
  void TearDown() override { platform::StopAndWait(*manager_, kBootServiceName); }

  bool AdminPortLeft() {
    std::string value;
    return ReadSetting(setting::kAdminPort, value);
  }

  quarno::test::TempXdg xdg_;
  std::unique_ptr<platform::ServiceManager> manager_;
  std::string stand_in_;
};

TEST_F(TakeOverTest, RunningServiceIsStoppedAndItsPortTakenOver) {
  ASSERT_TRUE(manager_->Start(kBootServiceName));
  ASSERT_TRUE(platform::WaitForServiceState(*manager_, kBootServiceName, ServiceState::kRunning,
                                            std::chrono::seconds(10)));
  ASSERT_TRUE(WriteSetting(setting::kAdminPort, "31234"));
  EXPECT_EQ(TakeOverFromBootService(*manager_), 31234);
  EXPECT_EQ(manager_->Query(kBootServiceName), ServiceState::kStopped);
  EXPECT_FALSE(AdminPortLeft());
}

TEST_F(TakeOverTest, StoppedServiceLeavesNothingToTakeOver) {
  ASSERT_TRUE(WriteSetting(setting::kAdminPort, "31234"));
  EXPECT_EQ(TakeOverFromBootService(*manager_), 0);
  EXPECT_FALSE(AdminPortLeft());
  ASSERT_TRUE(manager_->Remove(kBootServiceName));
  EXPECT_EQ(TakeOverFromBootService(*manager_), 0);
}

TEST_F(TakeOverTest, OnlyAWholePortCounts) {
  for (const char* text : {"0", "31234x", "70000"}) {
    ASSERT_TRUE(manager_->Start(kBootServiceName));
    ASSERT_TRUE(platform::WaitForServiceState(*manager_, kBootServiceName, ServiceState::kRunning,
                                              std::chrono::seconds(10)));
    ASSERT_TRUE(WriteSetting(setting::kAdminPort, text));
    EXPECT_EQ(TakeOverFromBootService(*manager_), 0) << text;
    EXPECT_FALSE(AdminPortLeft());
  }
}

TEST_F(TakeOverTest, StartUpTakesOverAndKeepsTheLinks) {
  ResetLogForTesting();
  ASSERT_TRUE(platform::MakeDirs(platform::HomeFolder()));
  const std::string link = platform::HomeFolder() + "/DISK_E";
  std::filesystem::create_directory_symlink(xdg_.root(), link);
  ASSERT_TRUE(manager_->Start(kBootServiceName));
  ASSERT_TRUE(platform::WaitForServiceState(*manager_, kBootServiceName, ServiceState::kRunning,
                                            std::chrono::seconds(10)));
  ASSERT_TRUE(WriteSetting(setting::kAdminPort, "31234"));
  ASSERT_TRUE(WriteSetting(setting::kTrayExecution, "true"));
  ui::test::FakeView view;
  StartupState state;
  std::unique_ptr<platform::NamedMutex> mutex;
  ASSERT_EQ(StartUp(view, *manager_, state, mutex), StartOutcome::kContinue);
  share::WaitForLinkWork();
  EXPECT_TRUE(platform::PathExists(link));  // the boot-up service's share link stays
  StartupFacts facts;
  HandOverToMainWindow(state, facts);
  EXPECT_TRUE(facts.ftp_server_running);
  EXPECT_EQ(facts.admin_port, 31234);
  EXPECT_TRUE(facts.tray_start);
  std::string log;
  platform::ReadFile(LogFilePath(), log);
  EXPECT_NE(log.find("부팅시 자동으로 실행되었습니다. [31234]"), std::string::npos);

  // A second instance is kept out with its message.
  std::unique_ptr<platform::NamedMutex> second;
  EXPECT_EQ(StartUp(view, *manager_, state, second), StartOutcome::kAlreadyRunning);
  EXPECT_EQ(view.messages, std::vector<std::string>{"Quarno Server가 이미 실행 중입니다."});
  mutex.reset();

  // Without the service: a fresh start removes the links an earlier run left.
  ResetLogForTesting();
  ASSERT_EQ(StartUp(view, *manager_, state, mutex), StartOutcome::kContinue);
  share::WaitForLinkWork();
  EXPECT_FALSE(platform::PathExists(link));
  EXPECT_TRUE(platform::PathExists(xdg_.root()));
  EXPECT_FALSE(state.Get().ftp_server_running);
  platform::ReadFile(LogFilePath(), log);
  EXPECT_NE(log.find("프로그램이 시작되었습니다."), std::string::npos);
  ResetLogForTesting();
}

TEST(TrayStartTest, OnlyExactlyTrueStartsInTheTray) {
  quarno::test::TempXdg xdg;
  EXPECT_FALSE(ReadTrayStartFlag());
  for (const char* text : {"True", "TRUE", "false", "1", " true"}) {
    ASSERT_TRUE(WriteSetting(setting::kTrayExecution, text));
    EXPECT_FALSE(ReadTrayStartFlag()) << text;
  }
  ASSERT_TRUE(WriteSetting(setting::kTrayExecution, "true"));
  EXPECT_TRUE(ReadTrayStartFlag());
}

TEST(HandOverTest, RectangleOnlyAfterANormalEnd) {
  StartupState state;
  state.SaveInitWindowRect({10, 20, 539, 362});
  EXPECT_FALSE(state.HandOverRect());  // minimized, then cancelled: no main window
  state.MarkInitWindowEndedNormally({-32000, -32000, -31471, -31658});  // minimized now
  ASSERT_TRUE(state.HandOverRect());
  EXPECT_EQ(state.HandOverRect()->left, 10);  // the last normal place
  StartupState fresh;
  fresh.MarkInitWindowEndedNormally({0, 0, 0, 0});
  EXPECT_TRUE(fresh.InitWindowEndedNormally());
  EXPECT_FALSE(fresh.HandOverRect());
}

}  // namespace
}  // namespace quarno::ui
