// A real WebDAV client (cadaver) browses and downloads through the stream path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "http_fixture.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string RunCadaver(const std::string& home, const std::string& url,
                       const std::string& commands) {
  WriteFile(home + "/commands", commands);
  const std::string command =
      "cd '" + home + "' && HOME='" + home + "' timeout 20 cadaver '" + url + "' < commands 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

TEST_F(HttpServerTest, WebDavClientListsAndDownloads) {
  if (std::system("command -v cadaver >/dev/null 2>&1") != 0) GTEST_SKIP() << "cadaver missing";
  WriteFile(share_ + "/readme.txt", "hello over webdav");
  fs::create_directories(share_ + "/사진");
  WriteFile(share_ + "/사진/photo.jpg", "jpeg bytes");
  const std::string client_home = temp_ + "/client";
  fs::create_directories(client_home);

  const std::string url =
      "http://127.0.0.1:" + std::to_string(port_) + "/httpstream/tok123/DISK_E/";
  const std::string output = RunCadaver(
      client_home, url,
      "ls\nget readme.txt got-readme.txt\ncd 사진\nls\nget photo.jpg got-photo.jpg\nquit\n");
  EXPECT_THAT(output, Not(HasSubstr("Could not access")));
  EXPECT_THAT(output, HasSubstr("readme.txt"));
  EXPECT_THAT(output, HasSubstr("사진"));
  EXPECT_THAT(output, HasSubstr("photo.jpg"));
  EXPECT_EQ(ReadFile(client_home + "/got-readme.txt"), "hello over webdav");
  EXPECT_EQ(ReadFile(client_home + "/got-photo.jpg"), "jpeg bytes");
}

}  // namespace
