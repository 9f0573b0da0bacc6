#include "ftpd/vfs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_xdg.h"

namespace fs = std::filesystem;

namespace quarno::ftpd {
namespace {

class Vfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = xdg_.root();
    home_ = root_ + "/zelhome";
    share_ = root_ + "/shared";
    fs::create_directories(home_);
    fs::create_directories(share_ + "/sub");
    fs::create_directories(root_ + "/other");
    std::ofstream(share_ + "/sub/f.txt") << "x";
    std::ofstream(root_ + "/other/secret") << "s";
    fs::create_directory_symlink(share_, home_ + "/DISK_E");
    fs::create_directory_symlink(root_ + "/other", share_ + "/out");   // leaves the share
    fs::create_directory_symlink(share_ + "/sub", share_ + "/inner");  // stays inside
    fs::create_symlink("../other/secret", share_ + "/sneaky.txt");
    fs::create_directory_symlink(root_ + "/other", home_ + "/evil");
    Account a;
    a.permissions.push_back({home_, {}, kDirList | kDirSubdirs | kIsHome});
    a.permissions.push_back({home_ + "/DISK_E", {}, 0xFF});
    ASSERT_TRUE(tree_.Init(a));
  }

  PathError Resolve(const std::string& cwd, const std::string& arg, PathNode* out = nullptr) {
    PathNode node;
    PathError e = tree_.Resolve(cwd, arg, node);
    if (out) *out = node;
    return e;
  }

  test::TempXdg xdg_;
  std::string root_, home_, share_;
  VirtualTree tree_;
};

TEST(VfsPaths, Normalize) {
  std::string out;
  EXPECT_EQ(NormalizeVirtualPath("/a/b", "../c/./d//", out), PathError::kNone);
  EXPECT_EQ(out, "/a/c/d");
  EXPECT_EQ(NormalizeVirtualPath("/a", "/x/..", out), PathError::kNone);
  EXPECT_EQ(out, "/");
  EXPECT_EQ(NormalizeVirtualPath("/", "..", out), PathError::kOutside);
  EXPECT_EQ(NormalizeVirtualPath("/a", "../../etc", out), PathError::kOutside);
  EXPECT_EQ(NormalizeVirtualPath("/", std::string("a\0b", 3), out), PathError::kBadName);
  EXPECT_EQ(NormalizeVirtualPath("/", std::string(256, 'n'), out), PathError::kBadName);
  EXPECT_EQ(NormalizeVirtualPath("/", std::string(255, 'n'), out), PathError::kNone);
  std::string deep;
  for (int i = 0; i < 900; ++i) deep += "/abcd";
  EXPECT_EQ(NormalizeVirtualPath("/", deep, out), PathError::kBadName);
}

TEST_F(Vfs, HomeIsListOnlyAndTheShareHasFullRights) {
  PathNode n;
  ASSERT_EQ(Resolve("/", "/", &n), PathError::kNone);
  EXPECT_EQ(n.rights, kDirList | kDirSubdirs | kIsHome);
  EXPECT_TRUE(n.is_permission_root);
  ASSERT_EQ(Resolve("/", "newfile", &n), PathError::kNone);
  EXPECT_FALSE(n.exists);
  EXPECT_FALSE(n.parent_rights & kFileWrite);

  ASSERT_EQ(Resolve("/", "DISK_E", &n), PathError::kNone);
  EXPECT_TRUE(n.is_dir);
  EXPECT_TRUE(n.is_permission_root);  // the link itself is never deleted or renamed
  EXPECT_EQ(n.rights, 0xFF);
  EXPECT_EQ(n.parent_rights, kDirList | kDirSubdirs | kIsHome);
  EXPECT_EQ(n.entry, fs::canonical(home_).string() + "/DISK_E");

  ASSERT_EQ(Resolve("/DISK_E/sub", "f.txt", &n), PathError::kNone);
  EXPECT_EQ(n.virtual_path, "/DISK_E/sub/f.txt");
  EXPECT_EQ(n.real, fs::canonical(share_ + "/sub/f.txt").string());
  EXPECT_EQ(n.parent_rights, 0xFF);
  EXPECT_FALSE(n.is_permission_root);

  ASSERT_EQ(Resolve("/DISK_E", "inner/f.txt", &n), PathError::kNone);  // link inside the share
  EXPECT_EQ(n.real, fs::canonical(share_ + "/sub/f.txt").string());
}

TEST_F(Vfs, TraversalCorpus) {
  for (const char* arg : {"..", "../..", "/../etc/passwd", "DISK_E/../../x", "/DISK_E/../.."})
    EXPECT_EQ(Resolve("/", arg), PathError::kOutside) << arg;
  EXPECT_EQ(Resolve("/DISK_E", "../../../etc"), PathError::kOutside);
  // Links that lead out of the share or the home are refused, to read and to write.
  for (const char* arg : {"/DISK_E/out", "/DISK_E/out/secret", "/DISK_E/out/new", "/DISK_E/sneaky.txt", "/evil",
                          "/evil/secret"})
    EXPECT_EQ(Resolve("/", arg), PathError::kOutside) << arg;
  // Absolute paths are virtual: /etc/passwd is looked for under the home.
  PathNode n;
  ASSERT_EQ(Resolve("/DISK_E", "/etc/passwd", &n), PathError::kNotFound);
  EXPECT_EQ(Resolve("/", std::string("DISK_E/a\0/../../etc", 19)), PathError::kBadName);
  EXPECT_EQ(Resolve("/", "DISK_E/" + std::string(300, 'a')), PathError::kBadName);
  EXPECT_EQ(Resolve("/", "DISK_E/sub/f.txt/x"), PathError::kNotFound);
}

TEST_F(Vfs, SubdirectoriesNeedDirSubdirs) {
  Account a;
  a.permissions.push_back({home_ + "/", {}, kDirList | kIsHome});  // trailing slash tolerated
  VirtualTree t;
  ASSERT_TRUE(t.Init(a));
  PathNode n;
  ASSERT_EQ(t.Resolve("/", "/", n), PathError::kNone);
  EXPECT_EQ(n.rights, kDirList | kIsHome);
  fs::create_directory(home_ + "/plain");
  ASSERT_EQ(t.Resolve("/", "plain", n), PathError::kNone);
  EXPECT_EQ(n.rights, 0);
  EXPECT_EQ(n.parent_rights, kDirList | kIsHome);
  // Without a permission of its own the share link is just a link out of the home.
  EXPECT_EQ(t.Resolve("/", "DISK_E", n), PathError::kOutside);

  Account none;
  EXPECT_FALSE(t.Init(none));
  Account missing;
  missing.permissions.push_back({root_ + "/nope", {}, kIsHome});
  EXPECT_FALSE(t.Init(missing));
}

TEST_F(Vfs, DanglingShareLinkIsNotFound) {
  fs::remove(home_ + "/DISK_E");
  fs::create_directory_symlink(root_ + "/gone", home_ + "/DISK_E");
  EXPECT_EQ(Resolve("/", "DISK_E/x"), PathError::kNotFound);
}

}  // namespace
}  // namespace quarno::ftpd
