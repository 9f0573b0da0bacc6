#include "ftpctl/link_shared_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "share/home_tree.h"
#include "support/temp_xdg.h"

namespace quarno::ftpctl {
namespace {

TEST(LinkSharedFolder, AppendsTheAccountWithHomeThenShareLink) {
  test::TempXdg xdg;
  share::ShareLink share_link;
  const std::string shared = xdg.root() + "/Photos/2012";
  std::filesystem::create_directories(shared);
  CUserSetting accounts;

  ASSERT_TRUE(LinkSharedFolder(share_link, "kim", "secret", shared, accounts));
  ASSERT_TRUE(LinkSharedFolder(share_link, "lee", "", shared, accounts));
  EXPECT_FALSE(LinkSharedFolder(share_link, "park", "x", "/", accounts));
  share::WaitForLinkWork();
  EXPECT_EQ(std::filesystem::read_symlink(platform::HomeFolder() + "/2012"), shared);

  ASSERT_EQ(accounts.size(), 2u);
  const t_user& kim = accounts.users()[0];
  EXPECT_EQ(kim.userName, "kim");
  EXPECT_EQ(kim.password, "5ebe2294ecd0e0f08eab7690d2a6ee69");  // MD5 of "secret"
  EXPECT_EQ(accounts.users()[1].password, "");
  ASSERT_EQ(kim.permissions.size(), 2u);
  const auto& home = kim.permissions[0];
  const auto& link = kim.permissions[1];
  EXPECT_EQ(home.directory, platform::HomeFolder());
  EXPECT_EQ(link.directory, platform::HomeFolder() + "/2012");
  EXPECT_TRUE(home.DirList && home.DirSubdirs && home.IsHome);
  EXPECT_FALSE(home.FileRead || home.FileWrite || home.FileDelete || home.FileAppend ||
               home.DirCreate || home.DirDelete || home.AutoCreate);
  EXPECT_TRUE(link.FileRead && link.FileWrite && link.FileDelete && link.FileAppend &&
              link.DirCreate && link.DirDelete && link.DirList && link.DirSubdirs);
  EXPECT_FALSE(link.IsHome || link.AutoCreate);
  share_link.RemoveAtExit();
}

}  // namespace
}  // namespace quarno::ftpctl
