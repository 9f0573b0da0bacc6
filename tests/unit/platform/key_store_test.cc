#include "platform/key_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "support/temp_xdg.h"

namespace quarno::platform {
namespace {

constexpr char kKey[] = "software\\Quarno_Server\\Server_Info";

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

class KeyStoreTest : public ::testing::Test {
 protected:
  test::TempXdg xdg;
  FileKeyStore store{xdg.config() + "/quarno"};
};

TEST_F(KeyStoreTest, RoundTripKeepsAwkwardValuesExactly) {
  std::string long_value(3000, 'x');
  long_value += "끝";
  const std::vector<std::pair<std::string, std::string>> values = {
      {"Quarno", "myname"},
      {"Ftp_password", "비밀번호 = 1234\\n"},
      {"Ftp_sharedfolder", "/home/user/공유 폴더"},
      {"multi", "line one\nline two\r\nback\\slash\\"},
      {"empty", ""},
      {"nul", std::string("a\0b", 3)},
      {"long", long_value},
      {"spaces", "  padded  "},
  };
  ASSERT_TRUE(store.Write(kKey, values));
  for (const auto& [name, value] : values) {
    std::string read = "default";
    ASSERT_TRUE(store.Read(kKey, name, read)) << name;
    EXPECT_EQ(read, value) << name;
  }
  // A person reads it: one line per value, in the order written.
  std::string text = Slurp(store.FileFor(kKey));
  EXPECT_NE(text.find("\nQuarno=myname\nFtp_password="), std::string::npos) << text;
  EXPECT_NE(text.find("multi=line one\\nline two\\r\\nback\\\\slash\\\\\n"), std::string::npos);
}

TEST_F(KeyStoreTest, FileLayoutAndModes) {
  ASSERT_TRUE(store.Write(kKey, {{"Ftp_password", "secret"}}));
  std::string file = store.FileFor(kKey);
  EXPECT_EQ(file, xdg.config() + "/quarno/software/Quarno_Server/Server_Info.conf");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((xdg.config() + "/quarno/software").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(KeyStoreTest, MissingKeyOrValueLeavesDefault) {
  std::string value = "default";
  EXPECT_FALSE(store.Read(kKey, "Quarno", value));
  ASSERT_TRUE(store.Write(kKey, {{"email", "a@b.c"}}));
  EXPECT_FALSE(store.Read(kKey, "Quarno", value));
  EXPECT_FALSE(store.Read("software\\Other", "email", value));
  EXPECT_EQ(value, "default");
}

TEST_F(KeyStoreTest, UpdatesKeepOtherValuesAndOrder) {
  ASSERT_TRUE(store.Write(kKey, {{"a", "1"}, {"b", "2"}}));
  ASSERT_TRUE(store.Write(kKey, {{"c", "3"}, {"a", "9"}}));
  auto parsed = FileKeyStore::Parse(Slurp(store.FileFor(kKey)));
  ASSERT_EQ(parsed.size(), 3u);
  EXPECT_EQ(parsed[0], (std::pair<std::string, std::string>{"a", "9"}));
  EXPECT_EQ(parsed[2].first, "c");
  EXPECT_TRUE(store.Remove(kKey, "a"));
  EXPECT_TRUE(store.Remove(kKey, "a"));  // already gone is fine
  std::string value;
  EXPECT_FALSE(store.Read(kKey, "a", value));
  EXPECT_TRUE(store.Read(kKey, "b", value));
  EXPECT_TRUE(store.Remove("software\\Nothing", "x"));
}

TEST_F(KeyStoreTest, BadNamesAndKeysAreRefused) {
  EXPECT_FALSE(store.Write(kKey, {{"a=b", "1"}}));
  EXPECT_FALSE(store.Write(kKey, {{"", "1"}}));
  EXPECT_FALSE(store.Write(kKey, {{"x\ny", "1"}}));
  EXPECT_FALSE(store.Write("software\\..\\..\\etc", {{"a", "1"}}));
  EXPECT_FALSE(store.Write("software\\\\double", {{"a", "1"}}));
  EXPECT_TRUE(store.FileFor("..").empty());
}

TEST_F(KeyStoreTest, HandEditedAndTruncatedFilesReadCleanlyAndWritesRepair) {
  ASSERT_TRUE(store.Write(kKey, {{"Quarno", "old"}}));
  std::string file = store.FileFor(kKey);
  Spit(file,
       "garbage line without equals\n"
       "\n"
       "# a comment=not a value\n"
       "email=me@example.com\r\n"
       "bad_escape=abc\\q\n"
       "Ftp_Port=21\n"
       "Quarno=cut-off-with");  // no newline: an interrupted edit
  std::string value = "default";
  EXPECT_FALSE(store.Read(kKey, "Quarno", value));
  EXPECT_FALSE(store.Read(kKey, "bad_escape", value));
  EXPECT_FALSE(store.Read(kKey, "# a comment", value));
  EXPECT_EQ(value, "default");
  EXPECT_TRUE(store.Read(kKey, "email", value));
  EXPECT_EQ(value, "me@example.com");
  ASSERT_TRUE(store.Write(kKey, {{"Quarno", "new"}}));
  auto parsed = FileKeyStore::Parse(Slurp(file));
  EXPECT_EQ(parsed, (std::vector<std::pair<std::string, std::string>>{
                        {"email", "me@example.com"}, {"Ftp_Port", "21"}, {"Quarno", "new"}}));

  Spit(file, std::string("\0\xff\xfe binary", 10));
  EXPECT_FALSE(store.Read(kKey, "Quarno", value));
  EXPECT_TRUE(store.Write(kKey, {{"Quarno", "again"}}));
  EXPECT_TRUE(store.Read(kKey, "Quarno", value));
  EXPECT_EQ(value, "again");
}

// The child writes generation after generation; it dies at a chosen step of
// a write (or at a random instant). The file must then hold one complete
// generation, never a mixture or a cut-off one.
std::vector<std::pair<std::string, std::string>> Generation(int g) {
  return {{"Quarno", "name" + std::to_string(g)},
          {"Ftp_password", std::string(5000 + g, static_cast<char>('a' + g % 26))},
          {"email", std::to_string(g) + "@x"}};
}

void ExpectWholeGeneration(FileKeyStore& store) {
  std::string name, password, email;
  ASSERT_TRUE(store.Read(kKey, "Quarno", name));
  ASSERT_TRUE(store.Read(kKey, "Ftp_password", password));
  ASSERT_TRUE(store.Read(kKey, "email", email));
  int g = std::stoi(name.substr(4));
  EXPECT_EQ(Generation(g)[1].second, password);
  EXPECT_EQ(Generation(g)[2].second, email);
}

int g_kill_at_step = 0;
void KillAtStep(int step) {
  if (step == g_kill_at_step) raise(SIGKILL);
}

TEST_F(KeyStoreTest, WriteKilledAtAnyStepLeavesOldOrNewValue) {
  ASSERT_TRUE(store.Write(kKey, Generation(0)));
  for (int step = 1; step <= 3; ++step) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      g_kill_at_step = step;
      FileKeyStore::SetStepHookForTesting(KillAtStep);
      store.Write(kKey, Generation(step));
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::string name;
    ASSERT_TRUE(store.Read(kKey, "Quarno", name));
    // Before the rename the old generation stands, after it the new one.
    EXPECT_EQ(name, "name" + std::to_string(step < 3 ? step - 1 : step));
    ExpectWholeGeneration(store);
    // The next write (in this process) repairs whatever the crash left.
    ASSERT_TRUE(store.Write(kKey, Generation(step)));
  }
  for (int round = 0; round < 15; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int g = 1;; ++g) store.Write(kKey, Generation(g % 50));
    }
    usleep(static_cast<useconds_t>(2000 + round * 1700));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ExpectWholeGeneration(store);
  }
}

TEST_F(KeyStoreTest, TwoProcessesNeverLoseEachOthersValues) {
  constexpr int kWrites = 40;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (int i = 0; i < kWrites; ++i) store.Write(kKey, {{"child" + std::to_string(i), "c"}});
    _exit(0);
  }
  for (int i = 0; i < kWrites; ++i)
    ASSERT_TRUE(store.Write(kKey, {{"parent" + std::to_string(i), "p"}}));
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  std::string value;
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_TRUE(store.Read(kKey, "child" + std::to_string(i), value)) << i;
    EXPECT_TRUE(store.Read(kKey, "parent" + std::to_string(i), value)) << i;
  }
}

}  // namespace
}  // namespace quarno::platform
