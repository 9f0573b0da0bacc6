// The auto-start option where no systemd runs, verified with a real boot of
// cron: the option writes the crontab's boot line, and cron started afresh
// (as at boot) runs it, which starts the FTP server's service and the
// boot-up service through the built-in supervisor. All of it in a mount and
// network namespace of its own: private crontabs, /run, /tmp and home, and
// only loopback, so nothing reaches this machine's crontab or network.
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "ftpctl/ftp_server.h"
#include "platform/boot_entry.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "ui/autostart.h"
#include "ui/startup.h"

namespace quarno::ui {
namespace {

using namespace std::chrono_literals;
const std::string kApps = std::string(QUARNO_BINARY_DIR) + "/apps";

// The child's verdict: 0 when both services came up from cron's boot.
int BootInOwnNamespaces() {
  auto fail = [](const char* why) {
    std::printf("FAIL: %s\n", why);
    std::fflush(stdout);
    return 1;
  };
  if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) return fail("unshare");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("private /");
  for (const char* folder : {"/run", "/tmp", "/root"}) {
    if (mount("tmpfs", folder, "tmpfs", 0, "mode=0755") != 0) return fail("tmpfs");
  }
  if (mount("tmpfs", "/var/spool/cron/crontabs", "tmpfs", 0, "mode=1730") != 0 ||
      std::system("chgrp crontab /var/spool/cron/crontabs && ip link set lo up") != 0)
    return fail("private crontabs and loopback");
  for (const char* name : {"config", "data", "state", "program"})
    std::filesystem::create_directories(std::string("/tmp/boot/") + name);
  setenv("HOME", "/root", 1);
  setenv("XDG_CONFIG_HOME", "/tmp/boot/config", 1);
  setenv("XDG_DATA_HOME", "/tmp/boot/data", 1);
  setenv("XDG_STATE_HOME", "/tmp/boot/state", 1);
  setenv("QUARNO_WRITABLE_FOLDER", "/tmp/boot/program", 1);
  setenv("QUARNO_FTPD_LISTEN", "127.0.0.1", 1);
  setenv("QUARNO_SUPERVISOR", "builtin", 1);
  unsetenv("XDG_RUNTIME_DIR");  // none at boot

  auto services = platform::MakeBuiltinServiceManager();
  if (!ftpctl::WriteFtpPortClosedConfig() ||
      !services->Create({ftpctl::kFtpServiceName, "Quarno Server ftp", kApps + "/quarno-ftpd",
                         platform::StartType::kOnDemand}))
    return fail("the FTP server's service");
  AutoStartOptions options;
  options.program_folder = kApps;
  options.server_executable = kApps + "/quarno-server";
  options.systemd_runs = [] { return false; };
  const AutoStartResult result = ApplyAutoStart(true, *services, options);
  if (ProblemOf(result, true) != AutoStartProblem::kNone) return fail("the option");
  std::printf("boot line: %s\n", platform::BootEntryCommand(kBootEntryTag).c_str());

  // The boot: cron starts and runs the @reboot lines.
  const pid_t cron = fork();
  if (cron == 0) {
    execl("/usr/sbin/cron", "cron", "-f", nullptr);
    _exit(127);
  }
  bool up = false;
  for (int i = 0; i < 150 && !up; ++i) {
    std::this_thread::sleep_for(100ms);
    up = services->Query(ftpctl::kFtpServiceName) == platform::ServiceState::kRunning &&
         services->Query(kBootServiceName) == platform::ServiceState::kRunning;
  }
  kill(cron, SIGTERM);
  waitpid(cron, nullptr, 0);
  platform::StopAndWait(*services, kBootServiceName, 10s);
  platform::StopAndWait(*services, ftpctl::kFtpServiceName, 10s);
  if (!up) return fail("the services did not come up from cron's boot");
  std::printf("both services started by cron at boot\n");
  std::fflush(stdout);
  return 0;
}

TEST(BootStartWithoutSystemd, CronStartsBothServicesAtBoot) {
  if (geteuid() != 0) GTEST_SKIP() << "namespaces need root";
  if (access("/usr/sbin/cron", X_OK) != 0 || access("/usr/bin/crontab", X_OK) != 0)
    GTEST_SKIP() << "cron is not installed (scripts/install-deps.sh)";
  std::fflush(stdout);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(BootInOwnNamespaces());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace quarno::ui
