#include "share/home_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/paths.h"
#include "support/temp_xdg.h"

namespace fs = std::filesystem;

namespace quarno::share {
namespace {

TEST(LinkName, DriveRootsAndLastComponents) {
  EXPECT_EQ(LinkName("E:\\"), "DISK_E");
  EXPECT_EQ(LinkName("e:\\"), "DISK_e");
  EXPECT_EQ(LinkName("D:/"), "DISK_D");
  EXPECT_EQ(LinkName("/media/Photos/2012"), "2012");
  EXPECT_EQ(LinkName("/media/사진/"), "사진");
  EXPECT_EQ(LinkName("/ab"), "ab");  // three characters, but no drive root
  for (const char* unusable : {"", "/", "//", "/srv/..", "/srv/.", ".."}) {
    EXPECT_EQ(LinkName(unusable), "") << unusable;
    EXPECT_EQ(JunctionPath(unusable), "") << unusable;
  }
}

class HomeTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = platform::HomeFolder();
    fs::create_directories(home_);
    for (const char* name : {"a/Photos", "b/Photos", "c/Music"}) {
      fs::create_directories(xdg_.root() + "/" + name);
    }
    std::ofstream(xdg_.root() + "/a/Photos/keep.jpg") << "photo";
  }
  std::string Folder(const char* name) const { return xdg_.root() + "/" + name; }

  test::TempXdg xdg_;
  std::string home_;
  ShareLink link_;
};

TEST_F(HomeTreeTest, RelinkingReplacesTheOneShareLink) {
  ASSERT_TRUE(link_.Link(Folder("a/Photos")));
  EXPECT_EQ(link_.CurrentPath(), home_ + "/Photos");
  WaitForLinkWork();
  EXPECT_EQ(fs::read_symlink(home_ + "/Photos"), Folder("a/Photos"));

  // Same name: the link is re-pointed, not removed afterwards.
  ASSERT_TRUE(link_.Link(Folder("b/Photos")));
  WaitForLinkWork();
  EXPECT_EQ(fs::read_symlink(home_ + "/Photos"), Folder("b/Photos"));

  ASSERT_TRUE(link_.Link(Folder("c/Music") + "/"));
  WaitForLinkWork();
  EXPECT_FALSE(fs::exists(fs::symlink_status(home_ + "/Photos")));
  EXPECT_EQ(fs::read_symlink(home_ + "/Music"), Folder("c/Music") + "/");
  EXPECT_EQ(link_.CurrentPath(), home_ + "/Music");

  EXPECT_FALSE(link_.Link("/"));
  EXPECT_EQ(link_.CurrentPath(), home_ + "/Music");

  link_.RemoveAtExit();
  EXPECT_FALSE(fs::exists(fs::symlink_status(home_ + "/Music")));
  EXPECT_TRUE(fs::exists(Folder("c/Music")));
  EXPECT_TRUE(fs::exists(Folder("a/Photos") + "/keep.jpg"));
}

TEST_F(HomeTreeTest, OnlyLinksInTheHomeFolderAreEverRemoved) {
  fs::create_directory(home_ + "/RealFolder");
  std::ofstream(home_ + "/RealFolder/data.txt") << "data";
  std::ofstream(home_ + "/file.txt") << "file";
  fs::create_directory_symlink(Folder("a/Photos"), home_ + "/Stale1");
  fs::create_directory_symlink(xdg_.root() + "/gone", home_ + "/Dangling");

  // A real folder of the share's name is never replaced by the link.
  EXPECT_TRUE(link_.Link(Folder("a/RealFolder")));
  WaitForLinkWork();
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(home_ + "/RealFolder")));

  RemoveHomeJunctions();
  WaitForLinkWork();
  EXPECT_FALSE(fs::exists(fs::symlink_status(home_ + "/Stale1")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(home_ + "/Dangling")));
  EXPECT_TRUE(fs::exists(home_ + "/RealFolder/data.txt"));
  EXPECT_TRUE(fs::exists(home_ + "/file.txt"));
  EXPECT_TRUE(fs::exists(Folder("a/Photos") + "/keep.jpg"));

  // A current path outside the home folder (or a real folder) is left alone.
  fs::create_directory_symlink(Folder("a/Photos"), xdg_.root() + "/elsewhere");
  link_.SetCurrentPath(xdg_.root() + "/elsewhere");
  link_.RemoveAtExit();
  EXPECT_TRUE(fs::is_symlink(xdg_.root() + "/elsewhere"));
  link_.SetCurrentPath(home_ + "/RealFolder");
  link_.RemoveAtExit();
  EXPECT_TRUE(fs::exists(home_ + "/RealFolder/data.txt"));
}

TEST_F(HomeTreeTest, StartupRemovalThenLinkLeavesExactlyOneLink) {
  fs::create_directory_symlink(Folder("b/Photos"), home_ + "/Photos");
  fs::create_directory_symlink(Folder("c/Music"), home_ + "/Music");
  RemoveHomeJunctions();
  link_.Link(Folder("a/Photos"));  // queued behind the removal
  WaitForLinkWork();
  EXPECT_EQ(fs::read_symlink(home_ + "/Photos"), Folder("a/Photos"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(home_ + "/Music")));
}

}  // namespace
}  // namespace quarno::share
