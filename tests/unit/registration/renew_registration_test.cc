// The register/renew procedure in the forms the desktop program runs it: a
// renewal after a port conflict replaces only the HTTP mapping and does not
// stop at a refusal; a failed attempt run takes its mappings back and deletes
// the DDNS record only when asked to.
#include "registration/renew_registration.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "unit/service/fake_boot_system.h"

namespace quarno {
namespace {

using test::FakeBootSystem;

class RecordingServers : public RegistrationServers {
 public:
  void StopServing() override { ++stops; }
  void StartServing(int ftp_port, int http_port) override {
    starts.push_back({ftp_port, http_port});
  }
  int stops = 0;
  std::vector<std::pair<int, int>> starts;
};

class RenewTest : public ::testing::Test {
 protected:
  RenewRequest Request() const {
    RenewRequest request;
    request.email = "me@example.org";
    request.name = "home";
    request.router_mac = world_.mac;
    request.local_address = world_.local;
    request.control = {"127.0.0.1", 5000, "/ctl/IPConn"};
    request.ftp_port = 2121;
    request.router_ftp_port = "2121";
    return request;
  }
  RenewResult Run(const RenewRequest& request) {
    return RenewRegistration(request, {servers_, world_, world_, world_, world_, world_});
  }
  std::vector<std::string> ExternalPorts() const {
    std::vector<std::string> ports;
    for (const PortMapping& m : world_.table) ports.push_back(m.external_port);
    return ports;
  }

  FakeBootSystem world_;
  RecordingServers servers_;
};

TEST_F(RenewTest, PortConflictReplacesOnlyTheHttpMappingAndIgnoresRefusals) {
  world_.table = {{"2121", "TCP", "2121", world_.local, "1", kFtpMappingDescription},
                  {"8080", "TCP", "8080", world_.local, "1", kHttpMappingDescription},
                  {"9000", "TCP", "9000", "198.18.10.11", "1", kHttpMappingDescription}};
  world_.register_answers = {"!yours", "good;1;1"};
  RenewRequest request = Request();
  request.mappings = RenewedMappings::kHttpOnly;
  request.stop_on_refusal = false;
  request.delete_host_on_failure = false;

  const RenewResult result = Run(request);
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(result.http_port, 35002);
  EXPECT_EQ(world_.register_calls, 2);
  // Every server HTTP mapping went, whatever PC it named; the FTP one stayed.
  EXPECT_EQ(ExternalPorts(), (std::vector<std::string>{"2121", "35002"}));
  EXPECT_EQ(servers_.starts, (std::vector<std::pair<int, int>>{{2121, 35001}, {2121, 35002}}));
  ASSERT_EQ(world_.router_ddns.size(), 1u);
  EXPECT_EQ(world_.router_ddns[0],
            (std::vector<std::string>{"home", "me@example.org", "2121", "35002"}));
}

TEST_F(RenewTest, FiveFailuresTakeTheMappingsBackAndDeleteTheRecordOnlyWhenAsked) {
  for (const bool delete_host : {true, false}) {
    world_ = FakeBootSystem();
    servers_ = RecordingServers();
    world_.register_answers = {"good;0;1", "fail", "", "good", "good;1;0"};
    RenewRequest request = Request();
    request.delete_host_on_failure = delete_host;

    const RenewResult result = Run(request);
    EXPECT_EQ(result.outcome, RenewOutcome::kFailed);
    EXPECT_EQ(world_.register_calls, 5);
    EXPECT_TRUE(world_.table.empty());
    EXPECT_TRUE(world_.router_ddns.empty());
    EXPECT_EQ(world_.delete_host_calls, delete_host ? 1 : 0);
    // Before each attempt, when the attempts run out, and once more at the end.
    EXPECT_EQ(servers_.stops, 7);
  }
}

TEST_F(RenewTest, RefusalsEndTheAttemptsWithTheirReason) {
  const std::pair<const char*, RenewOutcome> cases[] = {{"!yours", RenewOutcome::kNotYours},
                                                        {"x;!badsys", RenewOutcome::kBadSys}};
  for (const auto& [answer, outcome] : cases) {
    world_ = FakeBootSystem();
    world_.register_answers = {answer};
    const RenewResult result = Run(Request());
    EXPECT_EQ(result.outcome, outcome) << answer;
    EXPECT_EQ(world_.register_calls, 1) << answer;
    EXPECT_EQ(world_.delete_host_calls, 1) << answer;
    EXPECT_TRUE(world_.router_ddns.empty()) << answer;
  }
}

}  // namespace
}  // namespace quarno
