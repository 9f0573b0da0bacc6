// The clients inside the namespace lab: UPnP against the real miniupnpd, the
// router and DDNS simulators at their lab addresses. The client code runs on
// a thread that joined the pc's network namespace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "ddns/ddns_manager.h"
#include "lab/service/netns_lab.h"
#include "router/router_client.h"
#include "support/temp_xdg.h"
#include "upnp/upnp_manager.h"

namespace quarno {
namespace {

using std::chrono::milliseconds;
using test::NetnsLab;

// Runs `work` on a thread inside network namespace `ns`; false when it could not join.
template <class Work>
bool InNamespace(const std::string& ns, Work work) {
  bool joined = false;
  std::thread thread([&] {
    const int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    joined = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    if (joined) work();
  });
  thread.join();
  return joined;
}

class PeersLabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = NetnsLab::WhyUnavailable(); !why.empty()) GTEST_SKIP() << why;
    lab_ = std::make_unique<NetnsLab>();
    if (!lab_->error().empty()) GTEST_SKIP() << "lab could not be built: " << lab_->error();
  }
  test::TempXdg xdg_;
  std::unique_ptr<NetnsLab> lab_;
};

TEST_F(PeersLabTest, PortMappingsWithTheRealGateway) {
  NetnsLab& lab = *lab_;
  const std::string gateway = lab["ROUTER_LAN_IP"];
  const std::string pc = lab["PC_IP"];
  UpnpOptions options;
  options.ssdp_timeout = milliseconds(3000);
  options.receive_timeout = milliseconds(3000);
  ASSERT_TRUE(InNamespace(lab["NS_PC"], [&] {
    CUPnPManager upnp(options);
    MappingOwner owner;
    ASSERT_EQ(upnp.ClassifyServerMapping(gateway, pc, owner), kNoServerMapping);
    ASSERT_FALSE(owner.control_url.empty());
    const int port = std::stoi(owner.upnp_port);
    EXPECT_EQ(upnp.GetMappingEntryNumbers(gateway, port, owner.control_url), 0);

    const auto ftp = ServerMapping(kFtpMappingDescription, 2121, pc);
    const auto http = ServerMapping(kHttpMappingDescription, 38080, pc);
    EXPECT_EQ(ftp.AddPortMapping(gateway, port, owner.control_url, options), 0);
    EXPECT_EQ(http.AddPortMapping(gateway, port, owner.control_url, options), 0);
    // The gateway's secure mode refuses a mapping for another PC.
    EXPECT_NE(ServerMapping(kFtpMappingDescription, 2200, lab["PC2_IP"])
                  .AddPortMapping(gateway, port, owner.control_url, options),
              0);

    MappingOwner again;
    EXPECT_EQ(upnp.ClassifyServerMapping(gateway, pc, again), kMappedToThisPc);
    EXPECT_EQ(again.ftp_port, "2121");
    EXPECT_EQ(again.http_port, "38080");
    EXPECT_EQ(upnp.Mappings().size(), 2u);

    upnp.RemoveServerMappings(gateway, port, owner.control_url);
    EXPECT_EQ(upnp.GetMappingEntryNumbers(gateway, port, owner.control_url), 0);
    EXPECT_EQ(upnp.ListPortMappings(gateway, port, owner.control_url), -1);
  }));
}

TEST_F(PeersLabTest, RouterAndDdnsSimulatorsAtTheirLabAddresses) {
  NetnsLab& lab = *lab_;
  const std::string gateway = lab["ROUTER_LAN_IP"];
  const platform::MacAddress mac{0x02, 0x00, 0x00, 0x12, 0xAB, 0xCD};
  ASSERT_TRUE(InNamespace(lab["NS_PC"], [&] {
    RouterOptions router;
    router.receive_timeout = milliseconds(3000);
    std::string model;
    EXPECT_TRUE(ProbeRouter(gateway, model, router));
    EXPECT_FALSE(model.empty());

    DdnsOptions options;
    options.receive_timeout = milliseconds(3000);
    CDDNS_Manager ddns(options);
    ddns.SetServerAddress(lab["DDNS_IP"]);
    EXPECT_EQ(
        ClassifyRegisterAnswer(ddns.RegisterHost("lab@mail.test", "labhome", mac, 2121, 38080)),
        RegisterVerdict::kComplete);
    auto record = ParseGetByMacAnswer(ddns.GetByMac(mac));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->Name(), "labhome");
    EXPECT_EQ(record->http_port, "38080");

    RouterDdnsOptions setting;
    setting.program = Program::kBootup;
    EXPECT_NE(SetRouterDdns(gateway, "labhome", "lab@mail.test", "2121", "38080", setting), "");
    EXPECT_TRUE(ddns.DeleteHost("lab@mail.test", "labhome", mac));
  }));
  EXPECT_NE(test::ReadFile(lab.Path("router-state.json")).find("\"hostname\": \"labhome."),
            std::string::npos);
}

}  // namespace
}  // namespace quarno
