// The router client against lab/router_sim.py on loopback.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/log.h"
#include "router/router_client.h"
#include "support/files.h"
#include "support/lab_simulator.h"
#include "support/temp_xdg.h"

namespace quarno {
namespace {

using std::chrono::milliseconds;
using test::LabSimulator;

class RouterSimTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLogForTesting(); }
  void TearDown() override { ResetLogForTesting(); }

  LabSimulator Router(std::vector<std::string> args = {}) {
    return LabSimulator("router_sim.py", "127.0.0.2", std::move(args),
                        xdg_.root() + "/router.json");
  }
  RouterOptions Options(const LabSimulator& sim) {
    RouterOptions options;
    options.port = sim.port();
    options.connect_timeout = milliseconds(2000);
    options.receive_timeout = milliseconds(2000);
    options.find_gateway = [&sim](GatewayInfo& info) {
      info.gateway = sim.address();
      info.local_address = "127.0.0.1";
      return true;
    };
    return options;
  }
  std::string Log() { return test::ReadLog(); }

  test::TempXdg xdg_;
};

TEST_F(RouterSimTest, CheckRouterTakesTheTrimmedLowerCaseModel) {
  LabSimulator sim = Router({"--model", "  ZQ300 Plus \r\n"});
  RouterFacts facts;
  facts.model_name = "old";
  ASSERT_TRUE(CheckRouter(facts, Options(sim)));
  EXPECT_EQ(facts.model_name, "zq300 plus");
  EXPECT_EQ(facts.gateway.gateway, "127.0.0.2");
  EXPECT_EQ(RouterWantsPassword(sim.address(), Options(sim)), 0);
}

TEST_F(RouterSimTest, AnotherMakersGatewayIsNotTheRouter) {
  LabSimulator sim = Router({"--checkup-status", "404 Not Found"});
  std::string model = "kept";
  EXPECT_FALSE(ProbeRouter(sim.address(), model, Options(sim)));
  EXPECT_EQ(model, "kept");
  RouterOptions no_gateway = Options(sim);
  no_gateway.find_gateway = [](GatewayInfo&) { return false; };
  RouterFacts facts;
  EXPECT_FALSE(CheckRouter(facts, no_gateway));
}

TEST_F(RouterSimTest, ProbeFailuresAreLoggedByCause) {
  {
    LabSimulator sim = Router({"--close-early"});
    std::string model;
    EXPECT_FALSE(ProbeRouter(sim.address(), model, Options(sim)));
  }
  {
    LabSimulator sim = Router({"--silence"});
    RouterOptions options = Options(sim);
    options.receive_timeout = milliseconds(300);
    std::string model;
    EXPECT_FALSE(ProbeRouter(sim.address(), model, options));
  }
  const std::string log = Log();
  EXPECT_NE(log.find("Ralmek 공유기와 연결이 끊어졌습니다."), std::string::npos) << log;
  EXPECT_NE(log.find("Ralmek 공유기와 통신중 Timeout이 발생하였습니다."), std::string::npos) << log;
}

TEST_F(RouterSimTest, VersionBodyArrivingAfterTheHeaderIsReadCompletely) {
  LabSimulator sim = Router({"--firmware", "9.12", "--split-after-header", "--split-delay", "0.3"});
  std::string version;
  EXPECT_EQ(GetRouterFirmwareVersion(sim.address(), version, Options(sim)), 0);
  EXPECT_EQ(version, "9.12");
}

TEST_F(RouterSimTest, VersionWithoutContentLength) {
  {
    LabSimulator sim = Router({"--version-no-length", "--split-after-header"});
    std::string version;
    EXPECT_EQ(GetRouterFirmwareVersion(sim.address(), version, Options(sim)), 0);
    EXPECT_EQ(version, "8.34");
  }
  {
    LabSimulator sim = Router({"--version-no-length", "--firmware", " 8.40 "});
    std::string version;
    EXPECT_EQ(GetRouterFirmwareVersion(sim.address(), version, Options(sim)), 0);
    EXPECT_EQ(version, "8.40");
  }
}

TEST_F(RouterSimTest, VersionFailures) {
  std::string version = "unchanged";
  {
    LabSimulator sim = Router({"--short-body", "10"});
    EXPECT_EQ(GetRouterFirmwareVersion(sim.address(), version, Options(sim)), -3);
  }
  {
    LabSimulator sim = Router({"--close-early"});
    EXPECT_EQ(GetRouterFirmwareVersion(sim.address(), version, Options(sim)), -3);
  }
  RouterOptions refused;
  refused.port = 9;  // nothing listens on the discard port of 127.0.0.9
  refused.connect_timeout = milliseconds(500);
  EXPECT_EQ(GetRouterFirmwareVersion("127.0.0.9", version, refused), -2);
  // A text that is no address cannot be connected to; a socket was never the problem.
  EXPECT_EQ(GetRouterFirmwareVersion("router.example", version, refused), -2);
  EXPECT_EQ(version, "unchanged");
  EXPECT_NE(Log().find("펌웨어 버전확인 중 수신에러가 발생하였습니다. (2)"), std::string::npos);
  EXPECT_EQ(Log().find("소켓생성에 실패"), std::string::npos);
}

TEST_F(RouterSimTest, AdministratorCredentialIsCheckedAndKept) {
  LabSimulator sim = Router({"--admin", "admin:s3cret"});
  EXPECT_EQ(RouterWantsPassword(sim.address(), Options(sim)), 1);
  RouterCredential kept;
  RouterOptions options = Options(sim);
  options.credential = &kept;
  CredentialCheck wrong = CheckAdminCredentials(sim.address(), "admin", "guess", options);
  EXPECT_EQ(wrong.notice, kNoticeAuthFailed);
  EXPECT_TRUE(wrong.focus_user);
  EXPECT_EQ(kept.Get(), MakeRouterCredential("admin", "guess"));  // kept even when refused
  CredentialCheck right = CheckAdminCredentials(sim.address(), "admin", "s3cret", options);
  EXPECT_TRUE(right.accepted);
  EXPECT_EQ(right.notice, kNoticeNone);
  EXPECT_EQ(kept.Get(), "YWRtaW46czNjcmV0");
}

TEST_F(RouterSimTest, AdministratorCheckWithoutRouterShowsTheCommunicationNotice) {
  RouterOptions refused;
  refused.port = 9;
  refused.connect_timeout = milliseconds(300);
  EXPECT_EQ(CheckAdminCredentials("127.0.0.9", "admin", "pw", refused).notice, kNoticeCommError);
  EXPECT_EQ(RouterWantsPassword("127.0.0.9", refused), -1);
}

TEST_F(RouterSimTest, RouterDdnsSettingArrivesIntactAndItsBodyIsReturned) {
  LabSimulator sim = Router();
  RouterDdnsOptions options;
  options.port = sim.port();
  EXPECT_EQ(SetRouterDdns(sim.address(), "home", "me+x&y=z@mail.test", "2121", "8080", options),
            "ok");
  const std::string state = sim.State();
  EXPECT_NE(state.find("\"ddns_account\": \"me+x&y=z@mail.test\""), std::string::npos) << state;
  EXPECT_NE(state.find("\"ddns_password\": \"me+x&y=z@mail.test\""), std::string::npos);
  EXPECT_NE(state.find("\"hostname\": \"home.quarno.ralmek.co.kr\""), std::string::npos);
  EXPECT_NE(state.find("\"ddns_service_type\": \"quarno\""), std::string::npos);
  EXPECT_NE(state.find("\"ftp_port\": \"2121\""), std::string::npos);
  EXPECT_NE(state.find("\"http_port\": \"8080\""), std::string::npos);
}

TEST_F(RouterSimTest, RouterDdnsPageWithoutBodyIsReturnedAsReceived) {
  LabSimulator sim = Router({"--ddns-page", "<HTML>Applied</HTML>"});
  RouterDdnsOptions options;
  options.port = sim.port();
  const std::string answer = SetRouterDdns(sim.address(), "home", "a@b.c", "21", "80", options);
  EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_NE(answer.find("<HTML>Applied</HTML>"), std::string::npos);
}

TEST_F(RouterSimTest, RouterDdnsFailuresGiveEmptyAnswersAndTheServerMessages) {
  std::vector<std::string> shown;
  RouterDdnsOptions options;
  options.show_message = [&shown](const std::string& text) { shown.push_back(text); };
  {
    LabSimulator sim = Router({"--close-early"});
    options.port = sim.port();
    EXPECT_EQ(SetRouterDdns(sim.address(), "home", "a@b.c", "21", "80", options), "");
  }
  options.port = 9;
  options.connect_timeout = milliseconds(300);
  EXPECT_EQ(SetRouterDdns("127.0.0.9", "home", "a@b.c", "21", "80", options), "");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Gateway와 연결이 끊어졌습니다.");
  EXPECT_EQ(shown[1], "Gateway와 연결 타임아웃이 발생하였습니다.");
  // The boot-up service shows nothing.
  options.program = Program::kBootup;
  EXPECT_EQ(SetRouterDdns("127.0.0.9", "home", "a@b.c", "21", "80", options), "");
  EXPECT_EQ(shown.size(), 2u);
}

}  // namespace
}  // namespace quarno
