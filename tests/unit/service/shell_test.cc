// The boot worker's hand-over (ADMIN_PORT, the start mutex) and the shell's
// knobs: timing overrides and the systemd notification datagram.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "core/log.h"
#include "platform/daemon.h"
#include "platform/named_mutex.h"
#include "service/service_shell.h"
#include "support/loopback_peer.h"
#include "support/temp_xdg.h"
#include "unit/service/fake_boot_system.h"

namespace quarno {
namespace {

using namespace std::chrono_literals;

TEST(BootWork, AdminPortRecordsTheOutcome) {
  test::TempXdg xdg;
  test::FakeBootSystem failing;
  failing.service_exists = false;
  failing.settings["ADMIN_PORT"] = "30123";
  EXPECT_EQ(RunBootWork(failing, {}), kBootFtpService);
  EXPECT_EQ(failing.settings["ADMIN_PORT"], "0");

  test::FakeBootSystem fresh;  // "null" at the DDNS server
  LauncherOptions options;
  options.network_interval = 0ms;
  fresh.router_port = 1;  // nothing listens: the router check fails
  fresh.router_connect_timeout = 200ms;
  EXPECT_EQ(RunBootWork(fresh, options), kBootNotOurRouter);
  EXPECT_EQ(fresh.settings["ADMIN_PORT"], "0");

  // Success: the admin port of the configuration file the launcher wrote.
  test::FakeBootSystem home;
  test::RegisterHome(home, true);
  home.admin_port = 30777;
  test::LoopbackPeer router("127.0.0.1");
  router.ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\n\r\n").Close();
  router.Start();
  home.router_port = router.port();
  EXPECT_EQ(RunBootWork(home, options), kBootOk);
  EXPECT_EQ(home.settings["ADMIN_PORT"], "30777");

  // After a boot that left the servers serving, the service heals their
  // mappings until it is stopped; the boot result waits for that.
  test::FakeBootSystem again;
  test::RegisterHome(again, true);
  test::LoopbackPeer router2("127.0.0.1");
  router2.ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\n\r\n").Close();
  router2.Start();
  again.router_port = router2.port();
  options.heal_period = 0ms;  // every poll
  options.heal_poll = 1ms;
  int serving = 0;
  EXPECT_EQ(RunBootWork(again, options,
                        [&](CServerLauncher& launcher) {
                          ++serving;
                          EXPECT_EQ(launcher.Serving()->http_port, 8080);
                          // The router forgets everything; the healer puts it back.
                          again.table.clear();
                          HealerStop stop;
                          std::thread stopper([&] {
                            std::this_thread::sleep_for(200ms);
                            stop.Request();
                          });
                          HealWhileServing(again, again, launcher, options, stop);
                          stopper.join();
                        }),
            kBootOk);
  EXPECT_EQ(serving, 1);
  EXPECT_EQ(again.FtpAndHttp().size(), 2u);
  EXPECT_EQ(again.PassivePorts().size(), 10u);
}

// While the desktop program runs it owns the mappings; afterwards the service
// checks them again only when the stored registration still names its ports.
TEST(BootWork, TheRunningProgramOwnsTheMappings) {
  test::TempXdg xdg;
  test::FakeBootSystem world;
  test::RegisterHome(world, true);
  test::LoopbackPeer router("127.0.0.1");
  router.ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\n\r\n").Close();
  router.Start();
  world.router_port = router.port();
  LauncherOptions options;
  options.network_interval = 0ms;
  options.heal_period = 0ms;
  options.heal_poll = 1ms;
  auto heal_for = [&](CServerLauncher& launcher, std::chrono::milliseconds duration) {
    HealerStop stop;
    std::thread stopper([&] {
      std::this_thread::sleep_for(duration);
      stop.Request();
    });
    HealWhileServing(world, world, launcher, options, stop);
    stopper.join();
  };
  EXPECT_EQ(RunBootWork(world, options,
                        [&](CServerLauncher& launcher) {
                          std::unique_ptr<platform::NamedMutex> program;
                          ASSERT_EQ(platform::NamedMutex::Create(kServerStartMutexName, program),
                                    platform::NamedMutex::Result::kAcquired);
                          world.table.clear();
                          heal_for(launcher, 100ms);
                          EXPECT_TRUE(world.table.empty());  // left to the program
                          program.reset();
                          heal_for(launcher, 100ms);
                          EXPECT_EQ(world.table.size(), 12u);  // its own again

                          // The program registered a new HTTP port meanwhile.
                          ASSERT_EQ(platform::NamedMutex::Create(kServerStartMutexName, program),
                                    platform::NamedMutex::Result::kAcquired);
                          world.settings["Http_Port"] = "35009";
                          std::thread closer([&] {
                            std::this_thread::sleep_for(50ms);
                            program.reset();
                          });
                          world.table.clear();
                          heal_for(launcher, 150ms);
                          closer.join();
                          EXPECT_TRUE(world.table.empty());
                        }),
            kBootOk);
}

TEST(BootWork, RunningServerKeepsTheServiceIdle) {
  test::TempXdg xdg;
  std::unique_ptr<platform::NamedMutex> held;
  ASSERT_EQ(platform::NamedMutex::Create(kServerStartMutexName, held),
            platform::NamedMutex::Result::kAcquired);
  test::FakeBootSystem world;
  world.settings["ADMIN_PORT"] = "30123";
  EXPECT_EQ(RunBootWork(world, {}), -1);
  EXPECT_EQ(world.settings["ADMIN_PORT"], "30123");
  EXPECT_TRUE(world.controls.empty());
  EXPECT_EQ(world.closed_configs, 0);
}

TEST(BootWork, UncheckableStartMutexKeepsTheServiceIdle) {
  test::TempXdg xdg;
  SetLogFolder(xdg.state());
  SetLogFileName(kBootupLogName);
  ResetLogForTesting();
  // The lock's folder is a plain file: whether the program runs cannot be told.
  const std::string folder = xdg.runtime() + "/quarno";
  std::filesystem::remove_all(folder);
  std::ofstream(folder) << "x";
  test::FakeBootSystem world;
  world.settings["ADMIN_PORT"] = "30123";
  EXPECT_EQ(RunBootWork(world, {}), -1);
  EXPECT_EQ(world.settings["ADMIN_PORT"], "30123");
  EXPECT_EQ(world.closed_configs, 0);
  std::ifstream in(LogFilePath());
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_NE(log.str().find("Quarno Server가 실행 중입니다. [" + std::to_string(ENOTDIR) + "]"),
            std::string::npos);
  SetLogFolder("");
}

TEST(ShellOptions, TimingsFromTheEnvironment) {
  setenv("QUARNO_BOOT_TIMINGS",
         "settle_after_start=100,network_tries=3,short_pause=x,bogus=5,ftp_port_poll=-1,"
         "settle_after_renew=20,heal_period=2000,heal_poll=50",
         1);
  LauncherOptions options = LauncherOptionsFromEnvironment();
  unsetenv("QUARNO_BOOT_TIMINGS");
  EXPECT_EQ(options.settle_after_start, 100ms);
  EXPECT_EQ(options.settle_after_renew, 20ms);
  EXPECT_EQ(options.network_tries, 3);
  EXPECT_EQ(options.short_pause, 10ms);    // not a number: default kept
  EXPECT_EQ(options.ftp_port_poll, 10ms);  // negative: default kept
  EXPECT_EQ(options.ftp_service_wait, 60000ms);
  EXPECT_EQ(options.heal_period, 2000ms);
  EXPECT_EQ(options.heal_poll, 50ms);
  EXPECT_EQ(LauncherOptions().heal_period, 300000ms);  // five minutes
}

// The verdict of a child in a session of its own, with or without a terminal.
bool SupervisedInNewSession(bool with_terminal) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
  const std::string slave = ptsname(master);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    if (with_terminal && open(slave.c_str(), O_RDWR) < 0) _exit(3);  // becomes the terminal
    _exit(StartedBySupervisor() ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST(ShellOptions, SupervisedUnlessStartedFromATerminal) {
  unsetenv("NOTIFY_SOCKET");
  unsetenv("QUARNO_SUPERVISED");
  EXPECT_TRUE(SupervisedInNewSession(false));  // as systemd or the built-in supervisor
  EXPECT_FALSE(SupervisedInNewSession(true));  // as from a shell
  setenv("QUARNO_SUPERVISED", "0", 1);
  EXPECT_FALSE(StartedBySupervisor());
  setenv("QUARNO_SUPERVISED", "1", 1);
  EXPECT_TRUE(SupervisedInNewSession(true));
  setenv("QUARNO_SUPERVISED", "0", 1);
  setenv("NOTIFY_SOCKET", "@quarno-none", 1);
  EXPECT_FALSE(StartedBySupervisor());
  unsetenv("QUARNO_SUPERVISED");
  EXPECT_TRUE(StartedBySupervisor());
  unsetenv("NOTIFY_SOCKET");
}

TEST(ShellNotify, ReadinessDatagramReachesTheSocket) {
  test::TempXdg xdg;
  const std::string path = xdg.runtime() + "/notify";
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  EXPECT_TRUE(platform::daemon::NotifySupervisor("READY=1"));
  setenv("NOTIFY_SOCKET", "relative/path", 1);
  EXPECT_FALSE(platform::daemon::NotifySupervisor("READY=1"));
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(platform::daemon::NotifySupervisor("READY=1"));
  char buffer[64] = {};
  EXPECT_EQ(recv(fd, buffer, sizeof buffer, MSG_DONTWAIT), 7);
  EXPECT_STREQ(buffer, "READY=1");
  close(fd);
}

}  // namespace
}  // namespace quarno
