// Paths, links, the named mutex and detached processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/links.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "support/temp_xdg.h"

namespace quarno::platform {
namespace {

namespace fs = std::filesystem;

TEST(Paths, FollowXdgVariables) {
  test::TempXdg xdg;
  EXPECT_EQ(ConfigFolder(), xdg.config() + "/quarno");
  EXPECT_EQ(StateFolder(), xdg.state() + "/quarno");
  EXPECT_EQ(DataFolder(), xdg.data() + "/quarno");
  EXPECT_EQ(RuntimeFolder(), xdg.runtime() + "/quarno");
  EXPECT_TRUE(fs::is_directory(RuntimeFolder()));
  EXPECT_EQ(HomeFolder(), xdg.state() + "/quarno/zelhome");
  EXPECT_EQ(WritableFolder(), xdg.writable());
  EXPECT_TRUE(fs::exists(ProgramFolder() + "/platform_unit_tests"));
}

TEST(Paths, RelativeOrMissingXdgValuesFallBackToHome) {
  test::TempXdg xdg;
  std::string old_home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", xdg.root().c_str(), 1);
  setenv("XDG_CONFIG_HOME", "relative/path", 1);
  unsetenv("XDG_STATE_HOME");
  unsetenv("QUARNO_WRITABLE_FOLDER");
  EXPECT_EQ(ConfigFolder(), xdg.root() + "/.config/quarno");
  EXPECT_EQ(StateFolder(), xdg.root() + "/.local/state/quarno");
  // The test binary's folder is writable, so files go beside it.
  EXPECT_EQ(WritableFolder(), ProgramFolder());
  setenv("HOME", old_home.c_str(), 1);
}

TEST(Paths, MakeDirsCreatesChainAndRefusesFiles) {
  test::TempXdg xdg;
  EXPECT_TRUE(MakeDirs(xdg.root() + "/a/b/c", 0700));
  EXPECT_TRUE(MakeDirs(xdg.root() + "/a/b/c/"));
  std::ofstream(xdg.root() + "/file") << "x";
  EXPECT_FALSE(MakeDirs(xdg.root() + "/file"));
  EXPECT_FALSE(MakeDirs(xdg.root() + "/file/sub"));
  EXPECT_FALSE(MakeDirs(""));
}

TEST(Links, CreateReplaceListAndRemoveOnlyLinks) {
  test::TempXdg xdg;
  std::string home = xdg.state() + "/zelhome";
  fs::create_directories(home);
  fs::create_directories(xdg.root() + "/share1");
  fs::create_directories(xdg.root() + "/share2");
  fs::create_directories(home + "/real_folder");
  std::ofstream(xdg.root() + "/share1/keep.txt") << "data";

  ASSERT_TRUE(CreateDirLink(home + "/DISK_D", xdg.root() + "/share1"));
  EXPECT_TRUE(fs::exists(home + "/DISK_D/keep.txt"));
  ASSERT_TRUE(CreateDirLink(home + "/DISK_D", xdg.root() + "/share2"));
  EXPECT_EQ(fs::read_symlink(home + "/DISK_D"), xdg.root() + "/share2");
  EXPECT_FALSE(CreateDirLink(home + "/real_folder", xdg.root() + "/share1"));
  EXPECT_EQ(ListLinks(home), std::vector<std::string>{"DISK_D"});
  EXPECT_FALSE(RemoveLinkOnly(home + "/real_folder"));
  EXPECT_TRUE(fs::is_directory(home + "/real_folder"));
  EXPECT_TRUE(RemoveLinkOnly(home + "/DISK_D"));
  EXPECT_FALSE(IsLink(home + "/DISK_D"));
  EXPECT_TRUE(fs::exists(xdg.root() + "/share1/keep.txt"));  // the target is untouched
  EXPECT_TRUE(ListLinks(xdg.root() + "/missing").empty());
}

TEST(NamedMutex, HeldUntilReleasedOrOwnerDies) {
  test::TempXdg xdg;
  const std::string name = "Quarno_Server_Start_{C8C89500-D13A-4082-9B0B-90ED0DD70437}";
  EXPECT_FALSE(NamedMutex::Exists(name));
  std::unique_ptr<NamedMutex> held;
  ASSERT_EQ(NamedMutex::Create(name, held), NamedMutex::Result::kAcquired);
  EXPECT_TRUE(NamedMutex::Exists(name));
  std::unique_ptr<NamedMutex> second;
  EXPECT_EQ(NamedMutex::Create(name, second), NamedMutex::Result::kAlreadyExists);
  held.reset();
  EXPECT_FALSE(NamedMutex::Exists(name));

  // A process that is killed releases the name.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    std::unique_ptr<NamedMutex> mine;
    char ok = NamedMutex::Create(name, mine) == NamedMutex::Result::kAcquired ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  EXPECT_EQ(ok, 'y');
  EXPECT_TRUE(NamedMutex::Exists(name));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(NamedMutex::Exists(name));
  close(ready[0]);
  close(ready[1]);
}

TEST(Process, SpawnDetachedRunsInOwnSessionWithoutZombie) {
  test::TempXdg xdg;
  std::string marker = xdg.root() + "/ran";
  int pid = SpawnDetached("/bin/sh", {"-c", "echo $$ $(cut -d\" \" -f6 /proc/$$/stat) > " + marker +
                                                ".tmp; mv " + marker + ".tmp " + marker});
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 500 && !fs::exists(marker); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(marker);
  int reported_pid = 0, sid = 0;
  in >> reported_pid >> sid;
  EXPECT_EQ(reported_pid, pid);
  EXPECT_EQ(sid, pid);  // session leader
  // It is not our child: nothing to reap, and it vanishes once done.
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
  for (int i = 0; i < 500 && ProcessAlive(pid); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(ProcessAlive(pid));
  EXPECT_EQ(SpawnDetached(xdg.root() + "/no-such-program", {}), -1);
  EXPECT_TRUE(ProcessAlive(getpid()));
  EXPECT_FALSE(ProcessAlive(-1));
}

}  // namespace
}  // namespace quarno::platform
