// The UPnP client against lab/igd_sim.py on loopback.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/log.h"
#include "support/files.h"
#include "support/lab_simulator.h"
#include "support/temp_xdg.h"
#include "upnp/upnp_manager.h"

namespace quarno {
namespace {

using std::chrono::milliseconds;
using test::LabSimulator;

constexpr char kThisPc[] = "198.18.10.10";
constexpr char kOtherPc[] = "198.18.10.11";

class UpnpSimTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLogForTesting(); }
  void TearDown() override { ResetLogForTesting(); }

  LabSimulator Gateway(std::vector<std::string> args = {}) {
    return LabSimulator("igd_sim.py", "127.0.0.4", std::move(args), state_file_);
  }
  // Preloads the gateway's table (before Gateway()).
  void Table(const std::vector<CPortMappingContainer>& mappings) {
    std::ofstream out(state_file_);
    out << "{\"mappings\": [";
    for (std::size_t i = 0; i < mappings.size(); ++i) {
      const auto& m = mappings[i];
      out << (i ? "," : "") << "{\"external_port\": \"" << m.external_port << "\", \"protocol\": \""
          << m.protocol << "\", \"internal_port\": \"" << m.internal_port
          << "\", \"internal_client\": \"" << m.internal_client << "\", \"enabled\": \""
          << m.enabled << "\", \"description\": \"" << m.description << "\"}";
    }
    out << "]}";
  }
  CUPnPManager Client(const LabSimulator& sim) {
    UpnpOptions options;
    options.ssdp_port = sim.ssdp_port();
    options.ssdp_timeout = milliseconds(2000);
    options.connect_timeout = milliseconds(1000);
    options.receive_timeout = milliseconds(2000);
    return CUPnPManager(options);
  }
  std::string Log() { return test::ReadLog(); }

  test::TempXdg xdg_;
  std::string state_file_ = xdg_.root() + "/igd.json";
};

TEST_F(UpnpSimTest, DiscoveryFindsPortAndControlUrl) {
  LabSimulator sim = Gateway({"--location-header", "LoCaTiOn"});
  CUPnPManager upnp = Client(sim);
  std::string url;
  int port = 0;
  upnp.DiscoverGateway(sim.address(), url, port);
  EXPECT_EQ(port, sim.port());
  EXPECT_EQ(url, "/ctl/IPConn");
}

TEST_F(UpnpSimTest, DiscoveryFollowsTheDescriptionRules) {
  struct Case {
    const char* layout;
    const char* url;
  } cases[] = {{"lan-first", "/ctl/IPConn"},
               {"two-connections", "/ctl/IPConn2"},
               {"second-service", ""},
               {"wandevice2", ""},
               {"case", ""}};
  for (const Case& c : cases) {
    LabSimulator sim = Gateway({"--layout", c.layout});
    CUPnPManager upnp = Client(sim);
    std::string url;
    int port = 0;
    upnp.DiscoverGateway(sim.address(), url, port);
    EXPECT_EQ(port, sim.port()) << c.layout;  // the port is known even when no service matched
    EXPECT_EQ(url, c.url) << c.layout;
  }
}

TEST_F(UpnpSimTest, DiscoveryFailures) {
  {
    LabSimulator sim = Gateway({"--location-url", "http://127.0.0.4/rootDesc.xml"});
    CUPnPManager upnp = Client(sim);
    std::string url;
    int port = 0;
    upnp.DiscoverGateway(sim.address(), url, port);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(url, "");
  }
  {
    LabSimulator sim = Gateway({"--ssdp-silent"});
    CUPnPManager upnp = Client(sim);
    upnp.MutableOptions().ssdp_timeout = milliseconds(300);
    MappingOwner owner;
    EXPECT_EQ(upnp.ClassifyServerMapping(sim.address(), kThisPc, owner), kNoUpnpGateway);
  }
  EXPECT_NE(Log().find("UPnP 장치 탐색을 위한 통신에 타임아웃이 발생하였습니다.."),
            std::string::npos);
}

TEST_F(UpnpSimTest, AddListClassifyAndRemove) {
  LabSimulator sim = Gateway();
  CUPnPManager upnp = Client(sim);
  MappingOwner owner;
  ASSERT_EQ(upnp.ClassifyServerMapping(sim.address(), kThisPc, owner), kNoServerMapping);
  ASSERT_EQ(owner.upnp_port, std::to_string(sim.port()));
  const int port = sim.port();
  const std::string& url = owner.control_url;

  EXPECT_EQ(upnp.GetMappingEntryNumbers(sim.address(), port, url), 0);
  // An empty table ends the list early, but is nothing to log as a failure.
  EXPECT_EQ(upnp.ListPortMappings(sim.address(), port, url), -1);
  EXPECT_EQ(Log().find("UPnP 포트 포워드 목록 얻기에 실패하였습니다."), std::string::npos);

  const auto ftp = ServerMapping(kFtpMappingDescription, 2121, kThisPc);
  const auto http = ServerMapping(kHttpMappingDescription, 8080, kThisPc);
  EXPECT_EQ(ftp.AddPortMapping(sim.address(), port, url, upnp.Options()), 0);
  EXPECT_EQ(http.AddPortMapping(sim.address(), port, url, upnp.Options()), 0);
  // The same external port for another PC conflicts.
  EXPECT_EQ(ServerMapping(kFtpMappingDescription, 2121, kOtherPc)
                .AddPortMapping(sim.address(), port, url, upnp.Options()),
            718);

  EXPECT_EQ(upnp.GetMappingEntryNumbers(sim.address(), port, url), 2);
  upnp.Mappings().clear();
  ASSERT_EQ(upnp.ListPortMappings(sim.address(), port, url), 0);
  ASSERT_EQ(upnp.Mappings().size(), 2u);
  EXPECT_EQ(upnp.Mappings()[1].description, kHttpMappingDescription);
  EXPECT_EQ(upnp.Mappings()[1].internal_client, kThisPc);

  MappingOwner again;
  EXPECT_EQ(upnp.ClassifyServerMapping(sim.address(), kThisPc, again), kMappedToThisPc);
  EXPECT_EQ(again.ftp_port, "2121");
  EXPECT_EQ(again.http_port, "8080");

  upnp.RemoveServerMappings(sim.address(), port, url);
  EXPECT_EQ(upnp.GetMappingEntryNumbers(sim.address(), port, url), 0);
  EXPECT_EQ(ftp.DeletePortMapping(sim.address(), port, url, upnp.Options()), 714);
}

TEST_F(UpnpSimTest, LastFtpMappingWinsAndOtherPcsMappingsAreRemovedToo) {
  auto odd_case = ServerMapping("quarno_server_ftp", 2000, kThisPc);
  auto zero_padded = ServerMapping(kHttpMappingDescription, 3000, "198.18.010.10");
  Table({ServerMapping(kFtpMappingDescription, 2121, kThisPc),
         ServerMapping(kHttpMappingDescription, 8080, kThisPc),
         ServerMapping("Other program", 4000, kThisPc), odd_case, zero_padded,
         ServerMapping(kFtpMappingDescription, 2222, kOtherPc)});
  LabSimulator sim = Gateway();
  CUPnPManager upnp = Client(sim);
  MappingOwner owner;
  EXPECT_EQ(upnp.ClassifyServerMapping(sim.address(), kThisPc, owner), kMappedToOtherPc);
  EXPECT_EQ(owner.ftp_port, "2222");
  EXPECT_EQ(owner.http_port, "8080");  // the zero-padded client is not this PC

  upnp.RemoveServerMappings(sim.address(), std::stoi(owner.upnp_port), owner.control_url);
  upnp.Mappings().clear();
  ASSERT_EQ(upnp.ListPortMappings(sim.address(), std::stoi(owner.upnp_port), owner.control_url), 0);
  std::vector<std::string> left;
  for (const auto& m : upnp.Mappings()) left.push_back(m.description);
  EXPECT_EQ(left, (std::vector<std::string>{"Other program", "quarno_server_ftp"}));
}

// The passive range sits beside the FTP mapping: it never classifies as the
// server's FTP or HTTP mapping, and goes wherever the FTP mapping goes.
TEST_F(UpnpSimTest, PassiveRangeGoesWithTheFtpMappingAndIsNeverTakenForIt) {
  std::vector<CPortMappingContainer> table = {
      ServerMapping(kFtpMappingDescription, 2121, kThisPc),
      ServerMapping(kHttpMappingDescription, 8080, kThisPc)};
  for (const PortMapping& m : PassivePortMappings(PassivePortRange(2121), kOtherPc))
    table.emplace_back(m);
  Table(table);
  LabSimulator sim = Gateway();
  CUPnPManager upnp = Client(sim);
  MappingOwner owner;
  // Listed after the FTP mapping and naming another PC, yet this PC's FTP mapping stands.
  EXPECT_EQ(upnp.ClassifyServerMapping(sim.address(), kThisPc, owner), kMappedToThisPc);
  EXPECT_EQ(owner.ftp_port, "2121");
  EXPECT_EQ(owner.http_port, "8080");
  const int port = std::stoi(owner.upnp_port);
  EXPECT_EQ(upnp.GetExternalIpAddress(sim.address(), port, owner.control_url), "192.0.3.2");

  // A port conflict replaces only the HTTP mapping: the passive range stays.
  upnp.RemoveServerMappings(sim.address(), port, owner.control_url, ServerMappingScope::kHttpOnly);
  EXPECT_EQ(upnp.GetMappingEntryNumbers(sim.address(), port, owner.control_url), 11);
  upnp.RemoveServerMappings(sim.address(), port, owner.control_url);
  EXPECT_EQ(upnp.GetMappingEntryNumbers(sim.address(), port, owner.control_url), 0);
}

TEST_F(UpnpSimTest, ExternalAddressFailsWithoutAWanAddress) {
  LabSimulator sim = Gateway({"--external-address", ""});
  CUPnPManager upnp = Client(sim);
  MappingOwner owner;
  ASSERT_EQ(upnp.ClassifyServerMapping(sim.address(), kThisPc, owner), kNoServerMapping);
  EXPECT_FALSE(
      upnp.GetExternalIpAddress(sim.address(), std::stoi(owner.upnp_port), owner.control_url));
}

TEST_F(UpnpSimTest, OnlyAnHttpMappingClassifiesAsNoMappingButUpdatesThePort) {
  Table({ServerMapping(kHttpMappingDescription, 8081, kThisPc)});
  LabSimulator sim = Gateway();
  CUPnPManager upnp = Client(sim);
  MappingOwner owner;
  owner.ftp_port = "21";
  EXPECT_EQ(upnp.ClassifyServerMapping(sim.address(), kThisPc, owner), kNoServerMapping);
  EXPECT_EQ(owner.http_port, "8081");
  EXPECT_EQ(owner.ftp_port, "21");
}

TEST_F(UpnpSimTest, AnEntryThatFailsIsSkippedAndTheLoopGoesOn) {
  Table({ServerMapping(kFtpMappingDescription, 2121, kThisPc)});
  LabSimulator sim = Gateway({"--entries-extra", "2"});
  CUPnPManager upnp = Client(sim);
  MappingOwner owner;
  EXPECT_EQ(upnp.ClassifyServerMapping(sim.address(), kThisPc, owner), kMappedToThisPc);
  EXPECT_EQ(upnp.Mappings().size(), 1u);
}

TEST_F(UpnpSimTest, EmptyOrUnparseableAnswersAreFailuresNotSuccess) {
  const auto ftp = ServerMapping(kFtpMappingDescription, 2121, kThisPc);
  UpnpOptions options;
  options.receive_timeout = milliseconds(1000);
  {
    LabSimulator sim = Gateway({"--close-early", "--fault-path", "/ctl/"});
    EXPECT_EQ(ftp.AddPortMapping(sim.address(), sim.port(), "/ctl/IPConn", options), kUpnpNoAnswer);
    EXPECT_EQ(ftp.DeletePortMapping(sim.address(), sim.port(), "/ctl/IPConn", options),
              kUpnpNoAnswer);
  }
  {
    LabSimulator sim = Gateway({"--http-500", "--error-code", "718"});
    EXPECT_EQ(ftp.AddPortMapping(sim.address(), sim.port(), "/ctl/IPConn", options), 718);
  }
  {
    LabSimulator sim = Gateway();
    // A path that is no control URL: 404 without an errorCode.
    EXPECT_EQ(ftp.AddPortMapping(sim.address(), sim.port(), "/nothing", options), kUpnpNoAnswer);
  }
  EXPECT_EQ(ftp.AddPortMapping("127.0.0.9", 9, "/ctl/IPConn", options), kUpnpNoAnswer);
  EXPECT_NE(Log().find("UPnP 디바이스와의 커넥션 에러가 발생하였습니다."), std::string::npos);
}

TEST_F(UpnpSimTest, ShortBodyKeepsThePartialResponseAndLogs) {
  LabSimulator sim = Gateway({"--short-body", "50"});
  UpnpOptions options;
  options.receive_timeout = milliseconds(1000);
  CUPnPManager upnp(options);
  const std::string request = ControlRequest(UpnpAction::kQueryStateVariable, "/ctl/IPConn",
                                             sim.address(), sim.port(), QueryStateVariableBody());
  const std::string response = SendControlRequest(sim.address(), request, sim.port(), options);
  EXPECT_NE(response.find("<return>0</return>"), std::string::npos);
  EXPECT_NE(Log().find("UPnP 디바이스와의 통신 중 수신에러가 발생하였습니다."), std::string::npos);
  // The gateway saw a Content-Length equal to the body it read.
  EXPECT_NE(sim.State().find("Content-Length: 328"), std::string::npos);
}

}  // namespace
}  // namespace quarno
