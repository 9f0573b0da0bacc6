// The auto-start option: the XDG entry, the services' start types (built-in
// supervisor) and the request for lingering (a stand-in for loginctl).
#include "ui/autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ftpctl/ftp_server.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/temp_xdg.h"
#include "ui/startup.h"

namespace quarno::ui {
namespace {

using platform::StartType;

class AutoStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = platform::MakeBuiltinServiceManager();
    options_.program_folder = xdg_.root() + "/bin";
    options_.server_executable = xdg_.root() + "/bin/quarno-server";
    options_.user = "quarno-user";
    options_.systemd_runs = [] { return true; };
    options_.run_command = [this](const std::vector<std::string>& argv, std::string& out) {
      commands_.push_back(argv);
      if (argv.size() > 1 && argv[1] == "show-user") {
        out = linger_ ? "yes\n" : "no\n";
        return 0;
      }
      if (refuse_) return 1;
      linger_ = true;
      return 0;
    };
  }
  StartType TypeOf(const std::string& name) {
    platform::ServiceConfig config;
    EXPECT_TRUE(manager_->QueryConfig(name, config)) << name;
    return config.start_type;
  }

  test::TempXdg xdg_;
  std::unique_ptr<platform::ServiceManager> manager_;
  AutoStartOptions options_;
  std::vector<std::vector<std::string>> commands_;
  bool linger_ = false;
  bool refuse_ = false;
};

TEST_F(AutoStartTest, EntryFollowsXdgConfigHome) {
  EXPECT_EQ(AutoStartEntryPath(), xdg_.config() + "/autostart/quarno-server.desktop");
  EXPECT_FALSE(IsAutoStartRegistered());
  ASSERT_TRUE(platform::MakeDirs(xdg_.config() + "/autostart"));
  ASSERT_TRUE(platform::ReplaceFile(AutoStartEntryPath(), ""));
  EXPECT_TRUE(IsAutoStartRegistered());  // an empty entry still counts
}

TEST_F(AutoStartTest, SwitchingOnAndOff) {
  ASSERT_TRUE(manager_->Create({ftpctl::kFtpServiceName, ftpctl::kFtpServiceDisplayName,
                                "/opt/quarno/quarno-ftpd", StartType::kOnDemand}));
  AutoStartResult on = ApplyAutoStart(true, *manager_, options_);
  EXPECT_TRUE(on.entry_ok);
  EXPECT_TRUE(on.boot_service_ok);
  EXPECT_EQ(on.linger, LingerOutcome::kEnabled);
  EXPECT_TRUE(IsAutoStartRegistered());
  std::string entry;
  ASSERT_TRUE(platform::ReadFile(AutoStartEntryPath(), entry));
  EXPECT_NE(entry.find("\nExec=\"" + options_.server_executable + "\"\n"), std::string::npos);
  EXPECT_EQ(TypeOf(kBootServiceName), StartType::kAutomatic);
  EXPECT_EQ(TypeOf(ftpctl::kFtpServiceName), StartType::kAutomatic);
  platform::ServiceConfig boot;
  ASSERT_TRUE(manager_->QueryConfig(kBootServiceName, boot));
  EXPECT_EQ(boot.executable, options_.program_folder + "/quarno-bootup-service");
  EXPECT_EQ(boot.display_name, "Quarno Bootup Service");
  EXPECT_EQ(commands_.back(),
            (std::vector<std::string>{"loginctl", "enable-linger", "quarno-user"}));

  // Again: lingering is already there and is not asked for twice.
  commands_.clear();
  EXPECT_EQ(ApplyAutoStart(true, *manager_, options_).linger, LingerOutcome::kAlreadyEnabled);
  EXPECT_EQ(commands_.size(), 1u);

  // Off: the entry goes, the boot-up service stays registered on demand, and
  // lingering (which may serve other things of the user) is left alone.
  commands_.clear();
  AutoStartResult off = ApplyAutoStart(false, *manager_, options_);
  EXPECT_TRUE(off.entry_ok);
  EXPECT_FALSE(IsAutoStartRegistered());
  EXPECT_TRUE(manager_->Exists(kBootServiceName));
  EXPECT_EQ(TypeOf(kBootServiceName), StartType::kOnDemand);
  EXPECT_EQ(TypeOf(ftpctl::kFtpServiceName), StartType::kOnDemand);
  EXPECT_TRUE(commands_.empty());
  EXPECT_EQ(off.linger, LingerOutcome::kNotAsked);
}

TEST_F(AutoStartTest, BootServiceOfAnotherFolderIsRePointed) {
  ASSERT_TRUE(manager_->Create({kBootServiceName, "Quarno Bootup Service",
                                "/old/place/quarno-bootup-service", StartType::kOnDemand}));
  EXPECT_TRUE(ApplyAutoStart(true, *manager_, options_).boot_service_ok);
  platform::ServiceConfig boot;
  ASSERT_TRUE(manager_->QueryConfig(kBootServiceName, boot));
  EXPECT_EQ(boot.executable, options_.program_folder + "/quarno-bootup-service");
  EXPECT_EQ(boot.start_type, StartType::kAutomatic);
}

TEST_F(AutoStartTest, RefusedOrMissingLingerIsReported) {
  refuse_ = true;
  const AutoStartResult refused = ApplyAutoStart(true, *manager_, options_);
  EXPECT_EQ(refused.linger, LingerOutcome::kRefused);
  EXPECT_EQ(ProblemOf(refused, true), AutoStartProblem::kLingerRefused);
  options_.run_command = [](const std::vector<std::string>&, std::string&) { return -1; };
  AutoStartResult result = ApplyAutoStart(true, *manager_, options_);
  EXPECT_EQ(result.linger, LingerOutcome::kUnavailable);
  EXPECT_TRUE(result.entry_ok);  // the logon start works regardless
}

// Without systemd the crontab's boot line starts the services at boot; the
// user's other lines stay, and what is missing is told.
TEST_F(AutoStartTest, WithoutSystemdTheCrontabsBootLineStartsTheServices) {
  options_.systemd_runs = [] { return false; };
  unsetenv("QUARNO_FTPD_LISTEN");
  std::string table = "MAILTO=me\n0 3 * * * backup\n";
  int crontab_status = 0;  // -1: no crontab program
  options_.run_command = [&](const std::vector<std::string>& argv, std::string& out) {
    commands_.push_back(argv);
    if (argv[0] != "crontab" || crontab_status != 0) return crontab_status;
    if (argv[1] == "-l") out = table;
    else platform::ReadFile(argv[1], table);
    return 0;
  };
  const std::string line = "@reboot XDG_CONFIG_HOME='" + xdg_.config() + "' XDG_DATA_HOME='" +
                           xdg_.data() + "' XDG_STATE_HOME='" + xdg_.state() +
                           "' QUARNO_WRITABLE_FOLDER='" + xdg_.writable() + "' '" +
                           options_.program_folder +
                           "/quarno-bootup-service' --start-services # Quarno_Bootup_Service\n";
  struct Step {
    bool on;
    int status;
    std::string table_after;
    AutoStartProblem problem;
  };
  const Step steps[] = {
      {true, 0, "MAILTO=me\n0 3 * * * backup\n" + line, AutoStartProblem::kNone},
      {true, 0, "MAILTO=me\n0 3 * * * backup\n" + line, AutoStartProblem::kNone},  // once
      {false, 0, "MAILTO=me\n0 3 * * * backup\n", AutoStartProblem::kNone},
      {true, -1, "MAILTO=me\n0 3 * * * backup\n", AutoStartProblem::kNoBootStart},
      {true, 1, "MAILTO=me\n0 3 * * * backup\n", AutoStartProblem::kCronRefused},
  };
  for (const Step& step : steps) {
    crontab_status = step.status;
    const AutoStartResult result = ApplyAutoStart(step.on, *manager_, options_);
    EXPECT_EQ(table, step.table_after);
    EXPECT_EQ(ProblemOf(result, step.on), step.problem);
    EXPECT_TRUE(result.entry_ok);
  }
  for (const auto& argv : commands_) EXPECT_NE(argv[0], "loginctl");
}

TEST_F(AutoStartTest, ExecLineQuotesTheReservedCharacters) {
  const std::string text = AutoStartEntryText("/home/a b/$x/100%/q\"s`\\/quarno-server");
  EXPECT_NE(text.find(R"(Exec="/home/a b/\\$x/100%%/q\\"s\\`\\\\/quarno-server")"
                      "\n"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace quarno::ui
