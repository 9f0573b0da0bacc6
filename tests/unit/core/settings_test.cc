#include "core/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_xdg.h"

namespace quarno {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  test::TempXdg xdg;
  std::string KeyFile() const {
    return xdg.config() + "/quarno/software/Quarno_Server/Server_Info.conf";
  }
};

TEST_F(SettingsTest, RegistrationAndAccountRoundTrip) {
  std::string value = "default";
  EXPECT_FALSE(ReadSetting(setting::kQuarno, value));
  EXPECT_EQ(value, "default");
  ASSERT_TRUE(WriteRegistration("myhost", "me@example.com", "21", "8080"));
  ASSERT_TRUE(WriteAccount("사용자", "비밀 번호!", "/home/me/공유", "EUC-KR"));
  const std::pair<const char*, const char*> expected[] = {
      {setting::kQuarno, "myhost"},
      {setting::kEmail, "me@example.com"},
      {setting::kFtpPort, "21"},
      {setting::kHttpPort, "8080"},
      {setting::kFtpUser, "사용자"},
      {setting::kFtpPassword, "비밀 번호!"},
      {setting::kFtpSharedFolder, "/home/me/공유"},
      {setting::kFtpCharset, "EUC-KR"}};
  for (auto [name, text] : expected) {
    ASSERT_TRUE(ReadSetting(name, value)) << name;
    EXPECT_EQ(value, text) << name;
  }
  EXPECT_TRUE(std::filesystem::exists(KeyFile()));
}

TEST_F(SettingsTest, AdminPortHandOverAndEmptyValues) {
  ASSERT_TRUE(WriteSetting(setting::kAdminPort, "0"));
  std::string value;
  ASSERT_TRUE(ReadSetting(setting::kAdminPort, value));
  EXPECT_EQ(value, "0");
  EXPECT_TRUE(DeleteSetting(setting::kAdminPort));
  value = "keep";
  EXPECT_FALSE(ReadSetting(setting::kAdminPort, value));
  EXPECT_EQ(value, "keep");
  // Empty and missing differ only by the result.
  ASSERT_TRUE(WriteSetting(setting::kEmail, ""));
  EXPECT_TRUE(ReadSetting(setting::kEmail, value));
  EXPECT_EQ(value, "");
}

TEST_F(SettingsTest, ValuesOver255CharactersReadCompletely) {
  std::string folder = "/srv/";
  while (folder.size() < 1000) folder += "아주긴폴더이름/";
  ASSERT_TRUE(WriteSetting(setting::kFtpSharedFolder, folder));
  std::string value;
  ASSERT_TRUE(ReadSetting(setting::kFtpSharedFolder, value));
  EXPECT_EQ(value, folder);
}

TEST_F(SettingsTest, FailedWriteChangesNothing) {
  ASSERT_TRUE(WriteRegistration("old", "old@x", "21", "80"));
  // Make the key's folder a file: nothing can be written there.
  std::string folder = xdg.config() + "/quarno/software/Quarno_Server";
  std::filesystem::rename(folder, xdg.root() + "/moved");
  std::ofstream(folder) << "blocker";
  EXPECT_FALSE(WriteRegistration("new", "new@x", "22", "81"));
  EXPECT_FALSE(WriteAccount("u", "p", "/f", "UTF-8"));
  EXPECT_FALSE(WriteSetting(setting::kTrayExecution, "true"));
  std::filesystem::remove(folder);
  std::filesystem::rename(xdg.root() + "/moved", folder);
  std::string value;
  ASSERT_TRUE(ReadSetting(setting::kQuarno, value));
  EXPECT_EQ(value, "old");
  ASSERT_TRUE(ReadSetting(setting::kHttpPort, value));
  EXPECT_EQ(value, "80");
}

}  // namespace
}  // namespace quarno
