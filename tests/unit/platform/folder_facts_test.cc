#include "platform/folder_facts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/temp_xdg.h"

namespace quarno::platform {
namespace {

TEST(FolderFactsTest, WhatAFolderTextNames) {
  test::TempXdg xdg;
  const std::string dir = xdg.root() + "/share";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/file.txt") << "x";
  std::filesystem::create_directory_symlink(dir, xdg.root() + "/link");

  EXPECT_EQ(ExamineFolder(dir), FolderPlace::kFolder);
  EXPECT_EQ(ExamineFolder(dir + "/"), FolderPlace::kFolder);
  EXPECT_EQ(ExamineFolder(xdg.root() + "/link"), FolderPlace::kFolder);
  EXPECT_EQ(ExamineFolder("/"), FolderPlace::kFolder);
  // A file is not a folder to share, nor is a relative or empty text.
  EXPECT_EQ(ExamineFolder(dir + "/file.txt"), FolderPlace::kNotFolder);
  EXPECT_EQ(ExamineFolder("share"), FolderPlace::kNotFolder);
  EXPECT_EQ(ExamineFolder(""), FolderPlace::kNotFolder);
  EXPECT_EQ(ExamineFolder(dir + "/missing/deeper"), FolderPlace::kMissing);
}

TEST(FolderFactsTest, ActiveFirewallFromItsFiles) {
  test::TempXdg xdg;
  const std::string root = xdg.root();
  EXPECT_EQ(ActiveFirewall(root), FirewallFrontEnd::kNone);

  std::filesystem::create_directories(root + "/etc/ufw");
  std::ofstream(root + "/etc/ufw/ufw.conf") << "# ENABLED=yes\nENABLED=no\n";
  EXPECT_EQ(ActiveFirewall(root), FirewallFrontEnd::kNone);
  std::ofstream(root + "/etc/ufw/ufw.conf") << "# comment\n  ENABLED=yes\nLOGLEVEL=low\n";
  EXPECT_EQ(ActiveFirewall(root), FirewallFrontEnd::kUfw);
  std::filesystem::remove(root + "/etc/ufw/ufw.conf");

  std::filesystem::create_directories(root + "/run");
  // A pid file left by a firewalld that has ended does not count.
  std::ofstream(root + "/run/firewalld.pid") << "999999999\n";
  EXPECT_EQ(ActiveFirewall(root), FirewallFrontEnd::kNone);
  std::ofstream(root + "/run/firewalld.pid") << getpid() << "\n";
  EXPECT_EQ(ActiveFirewall(root), FirewallFrontEnd::kFirewalld);
}

}  // namespace
}  // namespace quarno::platform
