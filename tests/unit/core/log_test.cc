#include "core/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_xdg.h"

namespace quarno {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFolder("");
    SetLogFileName(kServerLogName);
    ResetLogForTesting();
  }
  void TearDown() override {
    SetLogFolder("");
    SetLogFileLimitForTesting(0);
    ResetLogForTesting();
  }
  test::TempXdg xdg;
};

TEST_F(LogTest, LineFormatAndDefaultPlace) {
  EXPECT_EQ(LogFilePath(), xdg.writable() + "/Logs/Quarno_Server_log.txt");
  WriteLog("부팅시 자동으로 실행되었습니다. [%d]", 7);
  WriteLog("100%% done: %s", "50% left %d");  // the formatted text is not a format again
  std::string text = Slurp(LogFilePath());
  std::regex line(
      R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] 부팅시 자동으로 실행되었습니다\. \[7\]\n)"
      R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] 100% done: 50% left %d\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(LogTest, EachRunStartsEmptyAndNamesDiffer) {
  // Two runs of a program: each child process logs once and ends.
  for (const char* run : {"first run", "second run"}) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      WriteLog("%s", run);
      _exit(0);
    }
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
  }
  std::string text = Slurp(LogFilePath());
  EXPECT_EQ(text.find("first run"), std::string::npos);
  EXPECT_NE(text.find("second run"), std::string::npos);

  SetLogFileName(kBootupLogName);
  WriteLog("boot");
  EXPECT_EQ(LogFilePath(), xdg.writable() + "/Logs/Quarno_Bootup_log.txt");
  EXPECT_NE(Slurp(LogFilePath()).find("boot"), std::string::npos);
  EXPECT_NE(Slurp(xdg.writable() + "/Logs/Quarno_Server_log.txt").find("second run"),
            std::string::npos);
}

TEST_F(LogTest, LongMessagesAreCutAtCharacterBoundary) {
  std::string korean;
  while (korean.size() < 2000) korean += "가";
  // 511 bytes end inside a syllable after "" and "xy", exactly after one after
  // "x": the cut never leaves part of a syllable behind.
  for (std::string prefix : {"", "x", "xy"}) {
    ResetLogForTesting();
    WriteLog("%s%s", prefix.c_str(), korean.c_str());
    std::string text = Slurp(LogFilePath());
    auto start = text.find("] ") + 2;
    std::string message = text.substr(start, text.size() - start - 1);
    EXPECT_EQ(message, prefix + korean.substr(0, (511 - prefix.size()) / 3 * 3));
    EXPECT_EQ(text.back(), '\n');
  }
}

TEST_F(LogTest, UnwritableFolderIsSilentNoOpUntilItWorks) {
  std::ofstream(xdg.root() + "/blocker") << "file";
  SetLogFolder(xdg.root() + "/blocker/Logs");  // cannot be made, even by root
  WriteLog("lost");
  SetLogFolder(xdg.root() + "/logs2");
  WriteLog("kept");
  EXPECT_NE(Slurp(xdg.root() + "/logs2/Quarno_Server_log.txt").find("kept"), std::string::npos);
}

TEST_F(LogTest, ThreadsNeverInterleaveLines) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) WriteLog("thread %d line %d %s", t, i, "padding padding");
    });
  for (auto& th : threads) th.join();
  std::istringstream in(Slurp(LogFilePath()));
  std::string line;
  int count = 0;
  std::regex shape(R"(\[[^\]]+\] thread \d line \d+ padding padding)");
  while (std::getline(in, line)) {
    ++count;
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
  }
  EXPECT_EQ(count, 800);
}

// Client addresses and tried names are nobody else's business; a long run
// keeps a bounded history and never splits or drops a line.
TEST_F(LogTest, PrivateFilesRotateBetweenLinesKeepingFive) {
  const std::string folder = xdg.root() + "/logs";
  ::mkdir(folder.c_str(), 0755);  // as an older version left it
  SetLogFolder(folder);
  SetLogFileLimitForTesting(400);
  for (int i = 0; i < 100; ++i) WriteLog("line %03d %s", i, "padding padding padding");
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const std::string base = folder + "/Quarno_Server_log.txt";
  std::string all;
  for (int i = kLogFilesKept - 1; i >= 0; --i) {
    const std::string path = i ? base + "." + std::to_string(i) : base;
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
    EXPECT_LE(st.st_size, 400) << path;
    all += Slurp(path);
  }
  EXPECT_NE(::stat((base + "." + std::to_string(kLogFilesKept)).c_str(), &st), 0);
  // The newest lines, in order, each whole: nothing lost inside the kept files.
  std::istringstream in(all);
  std::string line;
  int expected = -1;
  while (std::getline(in, line)) {
    const auto at = line.find("] line ");
    ASSERT_NE(at, std::string::npos) << line;
    const int number = std::stoi(line.substr(at + 7, 3));
    if (expected >= 0) {
      EXPECT_EQ(number, expected) << line;
    }
    expected = number + 1;
  }
  EXPECT_EQ(expected, 100);
}

}  // namespace
}  // namespace quarno
