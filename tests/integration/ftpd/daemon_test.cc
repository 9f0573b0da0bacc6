// The program itself: configuration from the writable folder, one instance,
// SIGTERM ends it cleanly.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "ftpd_fixture.h"
#include "platform/service_manager.h"

namespace fs = std::filesystem;

namespace {

pid_t Spawn() {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("QUARNO_FTPD_LISTEN", "127.0.0.1", 1);
    execl(QUARNO_FTPD_BINARY, "quarno-ftpd", nullptr);
    _exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid, int limit_ms) {
  for (int waited = 0; waited < limit_ms; waited += 20) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    usleep(20000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

}  // namespace

TEST_F(FtpdTest, DaemonRunsInTheForegroundAndEndsOnSigterm) {
  StopServer();  // the program takes the fixture's configuration and socket
  pid_t pid = Spawn();
  ASSERT_GT(pid, 0);
  RunResult r;
  for (int i = 0; i < 50; ++i) {
    r = RunShell("curl -sS --list-only " + FtpUrl("/DISK_E/"));
    if (r.exit_code == 0) break;
    usleep(100000);
  }
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(Control("200\n"), "OK\n");

  pid_t second = Spawn();  // the control channel is taken: a second daemon gives up
  EXPECT_EQ(WaitExit(second, 5000), 1);

  AdminClient admin(admin_port_);
  EXPECT_TRUE(admin.ok());
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(WaitExit(pid, 5000), 0);
  EXPECT_TRUE(admin.Closed());
  EXPECT_FALSE(fs::exists(xdg_->runtime() + "/quarno/Quarno_Server.ctl"));
  std::string log = ReadFile(xdg_->writable() + "/Logs/Quarno_Ftpd_log.txt");
  EXPECT_NE(log.find("quarno-ftpd stopped"), std::string::npos) << log;
}

TEST_F(FtpdTest, SupervisedDaemonHonoursControlCodes) {
  StopServer();
  setenv("QUARNO_FTPD_LISTEN", "127.0.0.1", 1);
  auto manager = quarno::platform::MakeServiceManager();
  quarno::platform::ServiceConfig config{"Quarno_Server", "Quarno Server ftp", QUARNO_FTPD_BINARY,
                                         quarno::platform::StartType::kOnDemand};
  ASSERT_TRUE(manager->Create(config));
  ASSERT_TRUE(manager->Start("Quarno_Server"));
  EXPECT_TRUE(manager->Control("Quarno_Server", 200, std::chrono::seconds(5)));
  EXPECT_EQ(manager->Query("Quarno_Server"), quarno::platform::ServiceState::kRunning);
  EXPECT_EQ(RunShell("curl -sS --list-only " + FtpUrl("/")).exit_code, 0);
  EXPECT_FALSE(manager->Control("Quarno_Server", 190, std::chrono::seconds(5)));  // no BOOT_HTTP yet
  EXPECT_TRUE(manager->Control("Quarno_Server", 191, std::chrono::seconds(5)));
  EXPECT_TRUE(manager->Stop("Quarno_Server"));
  EXPECT_TRUE(quarno::platform::WaitForServiceState(*manager, "Quarno_Server",
                                                    quarno::platform::ServiceState::kStopped, std::chrono::seconds(5)));
  unsetenv("QUARNO_FTPD_LISTEN");
}
