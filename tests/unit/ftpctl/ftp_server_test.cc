#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ftpctl/ftp_server.h"
#include "platform/paths.h"
#include "support/files.h"
#include "support/temp_xdg.h"

namespace quarno::ftpctl {
namespace {

FtpAccountValues Account(std::string user) {
  FtpAccountValues a;
  a.user = std::move(user);
  a.password = "secret";
  a.shared_folder = "/srv/Photos";
  a.ftp_port = 2121;
  a.router_mac = {0x02, 0x00, 0x00, 0x12, 0xAB, 0xCD};
  return a;
}

TEST(FtpServerConfig, FullFileBytes) {
  std::string text = BuildFtpServerConfig(Account("ftp"), "/h/zelhome", "/h/zelhome/Photos", 31234);
  const std::string expected =
      "<FileZillaServer><Users><User Name=\"ftp\">"
      "<Option Name=\"Pass\">5ebe2294ecd0e0f08eab7690d2a6ee69</Option>"
      "<Option Name=\"User Limit\">0</Option>\n"
      "<Option Name=\"Enabled\">1</Option><Permissions>"
      "<Permission Dir=\"/h/zelhome\">"
      "<Option Name=\"FileRead\">0</Option><Option Name=\"FileWrite\">0</Option>"
      "<Option Name=\"FileDelete\">0</Option><Option Name=\"FileAppend\">0</Option>"
      "<Option Name=\"DirCreate\">0</Option><Option Name=\"DirDelete\">0</Option>"
      "<Option Name=\"DirList\">1</Option><Option Name=\"DirSubdirs\">1</Option>"
      "<Option Name=\"IsHome\">1</Option><Option Name=\"AutoCreate\">0</Option></Permission>"
      "<Permission Dir=\"/h/zelhome/Photos\">"
      "<Option Name=\"FileRead\">1</Option><Option Name=\"FileWrite\">1</Option>"
      "<Option Name=\"FileDelete\">1</Option><Option Name=\"FileAppend\">1</Option>"
      "<Option Name=\"DirCreate\">1</Option><Option Name=\"DirDelete\">1</Option>"
      "<Option Name=\"DirList\">1</Option><Option Name=\"DirSubdirs\">1</Option>"
      "<Option Name=\"IsHome\">0</Option><Option Name=\"AutoCreate\">0</Option></Permission>"
      "</Permissions></User></Users><Settings>"
      "<Item name=\"Serverports\" type=\"string\">2121</Item>"
      "<Item name=\"Initial Welcome Message\" type=\"string\">Ralmek_FTPD &amp;&amp; "
      "Host-AB1222 12ABCD</Item>"
      "<Item name=\"Admin port\" type=\"numeric\">31234</Item>"
      "<Item name=\"Maximum user count\" type=\"numeric\">0</Item>"
      "<Item name=\"Timeout\" type=\"numeric\">300</Item>"
      "<Item name=\"No Transfer Timeout\" type=\"numeric\">0</Item>"
      "</Settings></FileZillaServer>";
  EXPECT_EQ(text, expected);
}

// Passive mode adds its items at the end and changes nothing before them.
TEST(FtpServerConfig, PassiveItemsFollowTheFixedOnes) {
  const std::string plain = BuildFtpServerConfig(Account("ftp"), "/h", "/h/Photos", 31234);
  const std::string tail = "</Settings></FileZillaServer>";
  const std::string fixed = plain.substr(0, plain.size() - tail.size());

  FtpAccountValues a = Account("ftp");
  a.passive = {29900, 29909, "192.0.3.2"};
  EXPECT_EQ(BuildFtpServerConfig(a, "/h", "/h/Photos", 31234),
            fixed +
                "<Item name=\"Use custom PASV ports\" type=\"numeric\">1</Item>"
                "<Item name=\"Custom PASV min port\" type=\"numeric\">29900</Item>"
                "<Item name=\"Custom PASV max port\" type=\"numeric\">29909</Item>"
                "<Item name=\"Custom PASV IP type\" type=\"numeric\">1</Item>"
                "<Item name=\"Custom PASV IP\" type=\"string\">192.0.3.2</Item>" +
                tail);
  // Without the router's address the range alone: every client gets the LAN address.
  a.passive.external_address.clear();
  EXPECT_EQ(BuildFtpServerConfig(a, "/h", "/h/Photos", 31234),
            fixed +
                "<Item name=\"Use custom PASV ports\" type=\"numeric\">1</Item>"
                "<Item name=\"Custom PASV min port\" type=\"numeric\">29900</Item>"
                "<Item name=\"Custom PASV max port\" type=\"numeric\">29909</Item>" +
                tail);
  // A range that is no range is no passive mode.
  a.passive = {29909, 29900, "192.0.3.2"};
  EXPECT_EQ(BuildFtpServerConfig(a, "/h", "/h/Photos", 31234), plain);
}

TEST(FtpServerConfig, MarkupInValuesIsEscaped) {
  FtpAccountValues a = Account("a\"b<c>&'d");
  std::string text = BuildFtpServerConfig(a, "/h", "/h/x&y", 1);
  EXPECT_NE(text.find("<User Name=\"a&quot;b&lt;c&gt;&amp;&apos;d\">"), std::string::npos);
  EXPECT_NE(text.find("<Permission Dir=\"/h/x&amp;y\">"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  EXPECT_EQ(XmlEscape("plain /path 한글"), "plain /path 한글");
}

TEST(FtpServerConfig, MinimalFile) {
  EXPECT_EQ(PortClosedFtpServerConfig(),
            "<FileZillaServer><Settings><Item name=\"Serverports\" "
            "type=\"string\">0</Item></Settings></FileZillaServer>");
  EXPECT_EQ(MinimalFtpServerConfig(30123),
            "<FileZillaServer><Settings><Item name=\"Admin port\" "
            "type=\"numeric\">30123</Item></Settings></FileZillaServer>");
}

TEST(FtpServerFiles, WriteFullConfigMakesHomeLinkAndFile) {
  test::TempXdg xdg;
  std::filesystem::create_directories(xdg.root() + "/share/Photos");
  FtpAccountValues a = Account("ftp");
  a.shared_folder = xdg.root() + "/share/Photos";
  uint16_t admin_port = 0;
  ASSERT_TRUE(WriteFtpServerConfig(a, admin_port));
  EXPECT_GE(admin_port, kAdminPortLow);
  EXPECT_LT(admin_port, kAdminPortHigh);
  std::string home = platform::HomeFolder();
  EXPECT_EQ(std::filesystem::read_symlink(home + "/Photos"), a.shared_folder);
  EXPECT_EQ(test::ReadFile(xdg.writable() + "/FileZilla Server.xml"),
            BuildFtpServerConfig(a, home, home + "/Photos", admin_port));

  a.shared_folder = "/";  // no link name: nothing written
  ASSERT_TRUE(WriteFtpPortClosedConfig());
  EXPECT_FALSE(WriteFtpServerConfig(a, admin_port));
  EXPECT_EQ(test::ReadFile(xdg.writable() + "/FileZilla Server.xml"), PortClosedFtpServerConfig());
}

TEST(FtpServerFiles, PrepareFailsWithoutExecutableAndTouchesNothing) {
  test::TempXdg xdg;
  std::string path;
  uint16_t port = 7;
  if (std::filesystem::exists(FtpServerExecutablePath())) GTEST_SKIP() << "quarno-ftpd present";
  EXPECT_FALSE(PrepareFtpServer(path, port));
  EXPECT_EQ(path, FtpServerExecutablePath());
  EXPECT_EQ(port, 7);
  EXPECT_FALSE(std::filesystem::exists(FtpConfigFilePath()));
}

}  // namespace
}  // namespace quarno::ftpctl
