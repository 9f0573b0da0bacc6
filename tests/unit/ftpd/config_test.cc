#include "ftpd/config.h"

#include <gtest/gtest.h>

namespace quarno::ftpd {
namespace {

std::string Permission(const std::string& dir, const char* digits) {
  static const char* kNames[] = {"FileRead", "FileWrite", "FileDelete", "FileAppend", "DirCreate",
                                 "DirDelete", "DirList", "DirSubdirs", "IsHome", "AutoCreate"};
  std::string out = "<Permission Dir=\"" + dir + "\">";
  for (int i = 0; i < 10; ++i)
    out += std::string("<Option Name=\"") + kNames[i] + "\">" + digits[i] + "</Option>";
  return out + "</Permission>";
}

// The full form exactly as the boot-up service writes it: values unescaped,
// one line break (CR LF) after "User Limit".
std::string FullForm(const std::string& user, const std::string& hash) {
  return "<FileZillaServer><Users><User Name=\"" + user + "\"><Option Name=\"Pass\">" + hash +
         "</Option><Option Name=\"User Limit\">0</Option>\r\n<Option Name=\"Enabled\">1</Option><Permissions>" +
         Permission("/s/zelhome", "0000001110") + Permission("/s/zelhome/DISK_E", "1111111100") +
         "</Permissions></User></Users><Settings>"
         "<Item name=\"Serverports\" type=\"string\">2121</Item>"
         "<Item name=\"Initial Welcome Message\" type=\"string\">Ralmek_FTPD &amp;&amp; Host-AB1222 12ABCD</Item>"
         "<Item name=\"Admin port\" type=\"numeric\">31234</Item>"
         "<Item name=\"Maximum user count\" type=\"numeric\">0</Item>"
         "<Item name=\"Timeout\" type=\"numeric\">300</Item>"
         "<Item name=\"No Transfer Timeout\" type=\"numeric\">0</Item></Settings></FileZillaServer>";
}

TEST(Config, MinimalForm) {
  ServerConfig c;
  std::string why;
  ASSERT_TRUE(ParseConfigText(
      "<FileZillaServer><Settings><Item name=\"Admin port\" type=\"numeric\">30123</Item></Settings></FileZillaServer>",
      c, why))
      << why;
  EXPECT_EQ(c.options.Number(kOptAdminPort), 30123);
  EXPECT_TRUE(c.users.empty());
  EXPECT_EQ(c.options.Text(kOptServerports), "");  // no FTP port until one is given
  EXPECT_TRUE(c.admin_port_given);
}

TEST(Config, PortClosedFormNamesNoAdminPort) {
  ServerConfig c;
  std::string why;
  ASSERT_TRUE(
      ParseConfigText("<FileZillaServer><Settings><Item name=\"Serverports\" "
                      "type=\"string\">0</Item></Settings></FileZillaServer>",
                      c, why))
      << why;
  EXPECT_FALSE(c.admin_port_given);  // the daemon keeps the admin port it has
  std::vector<uint16_t> ports{21};
  ASSERT_TRUE(ParsePortList(c.options.Text(kOptServerports), ports));
  EXPECT_TRUE(ports.empty());
}

TEST(Config, FullFormAsTheBootServiceWritesIt) {
  ServerConfig c;
  std::string why;
  ASSERT_TRUE(ParseConfigText(FullForm("ftp", "0cc175b9c0f1b6a831c399e269772661"), c, why)) << why;
  EXPECT_EQ(c.options.Text(kOptServerports), "2121");
  EXPECT_EQ(c.options.Text(kOptWelcome), "Ralmek_FTPD && Host-AB1222 12ABCD");
  EXPECT_EQ(c.options.Number(kOptAdminPort), 31234);
  EXPECT_EQ(c.options.Number(kOptTimeout), 300);
  EXPECT_EQ(c.options.Number(kOptNoTransferTimeout), 0);
  ASSERT_EQ(c.users.size(), 1u);
  const Account& a = c.users[0];
  EXPECT_EQ(a.user_name, "ftp");
  EXPECT_TRUE(PasswordMatches(a, "a"));
  ASSERT_EQ(a.permissions.size(), 2u);
  EXPECT_EQ(a.permissions[0].rights, kDirList | kDirSubdirs | kIsHome);
  EXPECT_EQ(a.permissions[1].rights, 0xFF);
  EXPECT_EQ(a.permissions[1].directory, "/s/zelhome/DISK_E");
}

TEST(Config, UnescapedQuoteAndAmpersandInUserName) {
  ServerConfig c;
  std::string why;
  ASSERT_TRUE(ParseConfigText(FullForm("Tom & \"Jerry\"", Md5Hex("x")), c, why)) << why;
  ASSERT_EQ(c.users.size(), 1u);
  EXPECT_EQ(c.users[0].user_name, "Tom & \"Jerry\"");
  EXPECT_EQ(c.options.Text(kOptWelcome), "Ralmek_FTPD && Host-AB1222 12ABCD");
}

TEST(Config, MalformedFilesLeaveTheConfigurationAlone) {
  ServerConfig c;
  std::string why;
  ASSERT_TRUE(ParseConfigText(FullForm("ftp", Md5Hex("a")), c, why));
  for (const char* bad : {"", "<FileZillaServer>", "<Other/>", "garbage \x01\xff",
                          "<FileZillaServer><Settings><Item name=\"Admin port\" type=\"numeric\">12x</Item>"
                          "</Settings></FileZillaServer>",
                          "<FileZillaServer><Settings><Item name=\"Admin port\" type=\"numeric\">70000</Item>"
                          "</Settings></FileZillaServer>",
                          "<FileZillaServer><Settings><Item name=\"Serverports\" type=\"string\">21 0</Item>"
                          "</Settings></FileZillaServer>"}) {
    why.clear();
    EXPECT_FALSE(ParseConfigText(bad, c, why)) << bad;
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(c.users.size(), 1u);
    EXPECT_EQ(c.options.Number(kOptAdminPort), 31234);
  }
  EXPECT_FALSE(LoadConfigFile("/nonexistent/FileZilla Server.xml", c, why));
}

TEST(Config, PortLists) {
  std::vector<uint16_t> ports;
  ASSERT_TRUE(ParsePortList(" 21 2121,2121  990 ", ports));
  EXPECT_EQ(ports, (std::vector<uint16_t>{21, 2121, 990}));
  ASSERT_TRUE(ParsePortList("", ports));
  EXPECT_TRUE(ports.empty());
  // A lone 0 is the boot service's "no FTP port", however it is spaced.
  for (const char* none : {"0", " 0 ", "0\r\n", ",0,"}) {
    ports = {21};
    ASSERT_TRUE(ParsePortList(none, ports)) << none;
    EXPECT_TRUE(ports.empty()) << none;
  }
  for (const char* bad : {"0 21", "21 0", "00", "65536", "21a", "-1", "1234567", "21;22"})
    EXPECT_FALSE(ParsePortList(bad, ports)) << bad;
}

}  // namespace
}  // namespace quarno::ftpd
