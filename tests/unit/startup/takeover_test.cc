// The hand-over from a running boot-up service, with the built-in supervisor
// and a stand-in program for the service.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/settings.h"
#include "platform/service_manager.h"
#include "support/temp_xdg.h"
#include "ui/startup.h"

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
    ASSERT_TRUE(manager_->Create({kBootServiceName, "Quarno Bootup Service", stand_in_,
                                  platform::StartType::kAutomatic}));
  }
  void TearDown() override { platform::StopAndWait(*manager_, kBootServiceName); }

  bool AdminPortLeft() {
    std::string value;
    return ReadSetting(setting::kAdminPort, value);
  }

  test::TempXdg xdg_;
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
  for (const char* text : {"0", "abc", "31234x", "70000", "-5", ""}) {
    ASSERT_TRUE(manager_->Start(kBootServiceName));
    ASSERT_TRUE(platform::WaitForServiceState(*manager_, kBootServiceName,
                                              ServiceState::kRunning, std::chrono::seconds(10)));
    ASSERT_TRUE(WriteSetting(setting::kAdminPort, text));
    EXPECT_EQ(TakeOverFromBootService(*manager_), 0) << text;
    EXPECT_FALSE(AdminPortLeft());
  }
}

TEST(TrayStartTest, OnlyExactlyTrueStartsInTheTray) {
  test::TempXdg xdg;
  EXPECT_FALSE(ReadTrayStartFlag());
  for (const char* text : {"True", "TRUE", "false", "1", " true"}) {
    ASSERT_TRUE(WriteSetting(setting::kTrayExecution, text));
    EXPECT_FALSE(ReadTrayStartFlag()) << text;
  }
  ASSERT_TRUE(WriteSetting(setting::kTrayExecution, "true"));
  EXPECT_TRUE(ReadTrayStartFlag());
}

TEST(StartMutexTest, SecondInstanceIsKeptOut) {
  test::TempXdg xdg;
  std::unique_ptr<platform::NamedMutex> first, second;
  EXPECT_EQ(AcquireStartMutex(first), platform::NamedMutex::Result::kAcquired);
  EXPECT_EQ(AcquireStartMutex(second), platform::NamedMutex::Result::kAlreadyExists);
  first.reset();
  EXPECT_EQ(AcquireStartMutex(second), platform::NamedMutex::Result::kAcquired);
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
