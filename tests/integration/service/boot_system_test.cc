// The boot service's real world against simulators on loopback.
#include "service/boot_system.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ftpctl/ftp_server.h"
#include "support/lab_simulator.h"
#include "support/temp_xdg.h"

namespace quarno {
namespace {

using namespace std::chrono_literals;

TEST(RealBootSystem, UpnpWaitsForAGatewayThatTakesItsTime) {
  test::TempXdg xdg;
  // A gateway that answers each control request after 200 ms.
  test::LabSimulator igd("igd_sim.py", "127.0.0.2", {"--delay", "0.2"}, xdg.root() + "/igd.json");
  const UpnpControlPoint control{"127.0.0.2", igd.port(), "/ctl/IPConn"};
  const PortMapping mapping{"2121", "TCP", "2121", "127.0.0.1", "1", "Quarno_Server_FTP"};

  EXPECT_EQ(MakeBootSystem()->System().mapper.AddMapping(control, mapping).code, 0);
  EXPECT_NE(igd.State().find("Quarno_Server_FTP"), std::string::npos);

  // The 10 ms the boot service was once given fails against the same gateway.
  BootSystemOptions hasty;
  hasty.upnp_receive_timeout = 10ms;
  EXPECT_NE(MakeBootSystem(hasty)->System().mapper.DeleteMapping(control, mapping).code, 0);
}

TEST(RealBootSystem, ClosedConfigurationHasOnlyTheZeroPort) {
  test::TempXdg xdg;
  // It replaces the full file (with the account's hash) and keeps it private.
  std::ofstream(ftpctl::FtpConfigFilePath())
      << "<FileZillaServer><Users>...</Users></FileZillaServer>";
  std::filesystem::permissions(ftpctl::FtpConfigFilePath(), std::filesystem::perms(0644));
  ASSERT_TRUE(MakeBootSystem()->System().ftp.WritePortClosedConfig());
  EXPECT_EQ(std::filesystem::status(ftpctl::FtpConfigFilePath()).permissions(),
            std::filesystem::perms(0600));
  std::ifstream in(ftpctl::FtpConfigFilePath(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "<FileZillaServer><Settings><Item name=\"Serverports\" type=\"string\">0</Item>"
            "</Settings></FileZillaServer>");
}

// Started from a terminal, the program does no boot work and ends with 0.
TEST(BootupProgram, ByHandDoesNothing) {
  test::TempXdg xdg;
  const std::string program = std::string(QUARNO_BINARY_DIR) + "/apps/quarno-bootup-service";
  const int status = std::system(("QUARNO_SUPERVISED=0 '" + program + "' 2>/dev/null").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(std::filesystem::exists(xdg.writable() + "/Logs"));
  EXPECT_TRUE(std::filesystem::is_empty(xdg.config()));
}

}  // namespace
}  // namespace quarno
