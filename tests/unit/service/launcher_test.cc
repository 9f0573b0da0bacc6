// The boot-time launcher against a scripted world: every result code, and
// what each path leaves on the router, at the DDNS server and in the settings.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "core/log.h"
#include "service/server_launcher.h"
#include "support/files.h"
#include "support/loopback_peer.h"
#include "support/temp_xdg.h"
#include "unit/service/fake_boot_system.h"

namespace quarno {
namespace {

using test::FakeBootSystem;
using namespace std::chrono_literals;

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFolder(xdg_.state());
    SetLogFileName(kBootupLogName);
    ResetLogForTesting();
  }
  void TearDown() override { SetLogFolder(""); }

  // RestoreServer needs the router facts that CheckRouterAtBoot gathers; a
  // router on loopback answers the check.
  // A router on loopback that answers the boot's check once.
  std::unique_ptr<test::LoopbackPeer> AnsweringRouter() {
    auto router = std::make_unique<test::LoopbackPeer>("127.0.0.1");
    router->ReadUntil("\r\n\r\n").Send("HTTP/1.1 200 OK\r\n\r\nralmek-x1").Close();
    router->Start();
    world_.router_port = router->port();
    return router;
  }
  int Restore() {
    const auto router = AnsweringRouter();
    CServerLauncher launcher(world_);
    EXPECT_TRUE(launcher.CheckRouterAtBoot());
    int result = launcher.RestoreServer();
    admin_port_ = launcher.AdminPort();
    http_port_ = launcher.HttpPort();
    return result;
  }
  std::string Log() { return test::ReadLog(); }

  test::TempXdg xdg_;
  FakeBootSystem world_;
  int admin_port_ = 0;
  int http_port_ = 0;
};

TEST_F(LauncherTest, FtpServiceMissingOrNeverRunningEndsWithOne) {
  world_.service_exists = false;
  EXPECT_EQ(CServerLauncher(world_).RunBootSequence(), kBootFtpService);

  world_.service_exists = true;
  world_.service_runs_after_polls = -1;
  LauncherOptions options;
  options.ftp_service_wait = 60s;
  EXPECT_EQ(CServerLauncher(world_, options).RunBootSequence(), kBootFtpService);
  // Bounded by the 60 s wait, measured on the launcher's clock.
  EXPECT_GE(world_.slept, 60s);
  EXPECT_LT(world_.slept, 61s);
  EXPECT_NE(Log().find("FTP 서버가 실행되기를 기다리고 있습니다."), std::string::npos);
  EXPECT_NE(Log().find("FTP Server 실행에 실패하였습니다."), std::string::npos);
}

TEST_F(LauncherTest, NoNetworkEndsWithTwoAfterAllTries) {
  world_.network_ready_after = -1;
  LauncherOptions options;
  options.network_tries = 180;
  EXPECT_EQ(CServerLauncher(world_, options).RunBootSequence(), kBootNoNetwork);
  EXPECT_EQ(world_.slept, 180s);
}

TEST_F(LauncherTest, RouterCheckNeedsStatus200OnTheFirstLine) {
  struct Case {
    std::string answer;
    bool ok;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nRALMEK", true},
      {"HTTP/1.1 404 Not Found\r\n\r\n200 ok", false},
      {"HTTP/1.1 200 OK", false},  // no line end
      {"", false},                 // closed without an answer
  };
  for (const Case& c : cases) {
    test::LoopbackPeer router("127.0.0.1");
    router.ReadUntil("\r\n\r\n").Send(c.answer).Close();
    router.Start();
    world_.router_port = router.port();
    world_.router_receive_timeout = 2s;
    CServerLauncher launcher(world_);
    EXPECT_EQ(launcher.CheckRouterAtBoot(), c.ok) << c.answer;
    EXPECT_EQ(router.Received(), "GET /checkup HTTP/1.1\r\n\r\n");
    EXPECT_EQ(launcher.LocalAddress(), "198.18.10.10");
  }
  // Nobody listening: a refused connection is a failed check.
  world_.router_connect_timeout = 500ms;
  {
    test::LoopbackPeer gone("127.0.0.1");
    world_.router_port = gone.port();
  }
  EXPECT_FALSE(CServerLauncher(world_).CheckRouterAtBoot());
}

TEST_F(LauncherTest, EarlyEndsOfTheRestore) {
  world_.ddns_address.clear();
  EXPECT_EQ(Restore(), kBootDdnsUnresolved);
  // The FTP port was closed and HTTP serving stopped first, whatever came after.
  EXPECT_EQ(world_.closed_configs, 1);
  EXPECT_EQ(world_.controls, (std::vector<int>{200, 191}));

  world_ = FakeBootSystem();
  test::RegisterHome(world_, true);
  world_.upnp_present = false;
  EXPECT_EQ(Restore(), kBootNoUpnp);

  world_ = FakeBootSystem();
  test::RegisterHome(world_, true);
  world_.settings.erase("Ftp_password");
  EXPECT_EQ(Restore(), kBootIncompleteSettings);
  EXPECT_TRUE(world_.config_ftp_ports.empty());
}

TEST_F(LauncherTest, ThisPcWithFreePortsStartsWithoutRenewal) {
  test::RegisterHome(world_, true);
  EXPECT_EQ(Restore(), kBootOk);
  EXPECT_EQ(world_.register_calls, 0);
  ASSERT_EQ(world_.router_ddns.size(), 1u);
  EXPECT_EQ(world_.router_ddns[0],
            (std::vector<std::string>{"home", "me@example.org", "2121", "8080"}));
  EXPECT_EQ(world_.config_ftp_ports, std::vector<int>{2121});
  EXPECT_EQ(world_.config_account.user, "joe");
  EXPECT_EQ(world_.config_account.shared_folder, "/srv/share");
  EXPECT_EQ(admin_port_, 31234);
  EXPECT_EQ(world_.settings["BOOT_HTTP"], "8080");
  EXPECT_EQ(world_.settings["MAC"], "12ABCD");
  // Control codes: close the port and stop an earlier run's HTTP serving,
  // take up the full file, start HTTP.
  EXPECT_EQ(world_.controls, (std::vector<int>{200, 191, 200, 190}));
  EXPECT_NE(Log().find("Ftp 서버 포트가 open 되었습니다."), std::string::npos);
  EXPECT_NE(Log().find("서버를 시작합니다. 1"), std::string::npos);
}

// The passive range is mapped beside the FTP mapping the router kept, and the
// file tells the FTP server the range and the router's WAN address.
TEST_F(LauncherTest, PassiveRangeBesideTheKeptFtpMapping) {
  test::RegisterHome(world_, true);
  EXPECT_EQ(Restore(), kBootOk);
  std::vector<std::string> expected;
  for (int port = 29900; port <= 29909; ++port) expected.push_back(std::to_string(port));
  EXPECT_EQ(world_.PassivePorts(), expected);
  for (const PortMapping& m : world_.table) EXPECT_EQ(m.internal_client, "198.18.10.10");
  ASSERT_EQ(world_.config_passive.size(), 1u);
  EXPECT_EQ(world_.config_passive[0].low_port, 29900);
  EXPECT_EQ(world_.config_passive[0].high_port, 29909);
  EXPECT_EQ(world_.config_passive[0].external_address, "192.0.3.2");

  // A router without a WAN address yet: the range alone.
  world_ = FakeBootSystem();
  test::RegisterHome(world_, true);
  world_.external_address.reset();
  EXPECT_EQ(Restore(), kBootOk);
  ASSERT_EQ(world_.config_passive.size(), 1u);
  EXPECT_EQ(world_.config_passive[0].low_port, 29900);
  EXPECT_EQ(world_.config_passive[0].external_address, "");
}

// What the healer is handed, and what a new WAN address does.
TEST_F(LauncherTest, ServingAfterTheBootAndANewWanAddress) {
  test::RegisterHome(world_, false);  // a renewal: new HTTP port 35001
  const auto router = AnsweringRouter();
  CServerLauncher launcher(world_);
  ASSERT_TRUE(launcher.CheckRouterAtBoot());
  ASSERT_EQ(launcher.RestoreServer(), kBootOk);
  const std::optional<ServedMappings> served = launcher.Serving();
  ASSERT_TRUE(served);
  EXPECT_EQ(served->gateway, "127.0.0.1");
  EXPECT_EQ(served->local_address, "198.18.10.10");
  EXPECT_EQ(served->ftp_port, 2121);
  EXPECT_EQ(served->http_port, 35001);
  EXPECT_EQ(served->passive.low, 29900);
  EXPECT_EQ(served->external_address, "192.0.3.2");

  world_.controls.clear();
  world_.admin_port = 31999;
  EXPECT_TRUE(launcher.ExternalAddressChanged("192.0.3.77"));
  EXPECT_EQ(world_.config_passive.back().external_address, "192.0.3.77");
  EXPECT_EQ(world_.config_ftp_ports.back(), 2121);
  EXPECT_EQ(world_.config_account.user, "joe");
  EXPECT_EQ(world_.controls, std::vector<int>{200});
  EXPECT_EQ(world_.settings["ADMIN_PORT"], "31999");
  EXPECT_EQ(launcher.Serving()->external_address, "192.0.3.77");
  // The server refusing the file is a failure the healer retries.
  world_.failing_controls = {200};
  EXPECT_FALSE(launcher.ExternalAddressChanged("192.0.3.78"));
}

TEST_F(LauncherTest, NothingToHealWhenNotServing) {
  // A failed renewal took the mappings and the DDNS record away.
  test::RegisterHome(world_, false);
  world_.register_answers = {"fail", "fail", "fail", "fail", "fail"};
  const auto router = AnsweringRouter();
  CServerLauncher launcher(world_);
  ASSERT_TRUE(launcher.CheckRouterAtBoot());
  EXPECT_EQ(launcher.RestoreServer(), kBootOk);
  EXPECT_FALSE(launcher.Serving());
  EXPECT_TRUE(world_.PassivePorts().empty());  // removed with each failed attempt
}

TEST_F(LauncherTest, TakenPortsOfThisPc) {
  test::RegisterHome(world_, true);
  world_.taken_ports = {2121};
  EXPECT_EQ(Restore(), kBootFtpPortTaken);
  EXPECT_NE(Log().find("등록된 FTP Port [2121]가 다른 응용 프로그램에서 사용중입니다."),
            std::string::npos);
  EXPECT_TRUE(world_.config_ftp_ports.empty());

  // HTTP port taken: a renewal picks a new port of 35001 or above, and the
  // servers then start on it with the account in the file every time.
  world_ = FakeBootSystem();
  test::RegisterHome(world_, true);
  world_.taken_ports = {8080};
  EXPECT_EQ(Restore(), kBootOk);
  EXPECT_EQ(world_.register_calls, 1);
  EXPECT_EQ(http_port_, 35001);
  EXPECT_EQ(world_.settings["Http_Port"], "35001");
  EXPECT_EQ(world_.config_users, (std::vector<std::string>{"joe", "joe"}));
  EXPECT_EQ(world_.router_ddns.back()[3], "35001");
}

TEST_F(LauncherTest, NoMappingButMatchingRegistrationRenews) {
  test::RegisterHome(world_, false);
  EXPECT_EQ(Restore(), kBootOk);
  EXPECT_EQ(world_.register_calls, 1);
  // The new mappings point at this PC with the FTP port and the new HTTP port,
  // the passive range beside them.
  const std::vector<PortMapping> mapped = world_.FtpAndHttp();
  ASSERT_EQ(mapped.size(), 2u);
  EXPECT_EQ(mapped[0].external_port, "2121");
  EXPECT_EQ(mapped[1].external_port, "35001");
  EXPECT_EQ(mapped[1].internal_client, "198.18.10.10");
  EXPECT_EQ(world_.PassivePorts().size(), 10u);
  EXPECT_EQ(world_.settings["Http_Port"], "35001");
  EXPECT_NE(Log().find("재등록 시도 성공했습니다"), std::string::npos);
}

TEST_F(LauncherTest, NotYoursEndsTheRenewalAndDeletesTheHost) {
  test::RegisterHome(world_, false);
  world_.register_answers = {"!yours"};
  EXPECT_EQ(Restore(), kBootOk);  // a failed renewal still ends with 0
  EXPECT_EQ(world_.register_calls, 1);
  EXPECT_EQ(world_.delete_host_calls, 1);
  EXPECT_NE(Log().find("재등록 시도 중 실패하였습니다."), std::string::npos);
}

TEST_F(LauncherTest, FiveFailedAttemptsLeaveNoServerMapping) {
  test::RegisterHome(world_, false);
  world_.register_answers = {"good;0;1", "fail", "", "good", "badness"};
  EXPECT_EQ(Restore(), kBootOk);
  EXPECT_EQ(world_.register_calls, 5);
  EXPECT_FALSE(world_.HasServerMapping());
  EXPECT_EQ(world_.delete_host_calls, 1);
  // HTTP serving is stopped with the port closing, before each attempt and
  // at the end.
  EXPECT_EQ(std::count(world_.controls.begin(), world_.controls.end(), 191), 8);
}

TEST_F(LauncherTest, RegistrationMissingOrElsewhereEndsEarly) {
  world_.get_by_mac_answer = "NULL";
  EXPECT_EQ(Restore(), kBootNotRegistered);
  EXPECT_NE(Log().find("DDNS 서버에 등록되어 있지 않습니다."), std::string::npos);

  // No mapping: the stored name and e-mail must equal the DDNS answer exactly,
  // letter case included; nothing is renewed or overwritten otherwise.
  for (const char* key : {"Quarno", "email"}) {
    world_ = FakeBootSystem();
    test::RegisterHome(world_, false);
    world_.settings[key] = key == std::string("Quarno") ? "Home" : "Me@example.org";
    const auto before = world_.settings;
    EXPECT_EQ(Restore(), kBootOtherPcNoMapping) << key;
    EXPECT_EQ(world_.register_calls, 0);
    EXPECT_TRUE(world_.config_ftp_ports.empty());
    EXPECT_EQ(world_.settings, before);
  }
  world_ = FakeBootSystem();
  test::RegisterHome(world_, false);
  world_.settings.erase("Quarno");
  EXPECT_EQ(Restore(), kBootOtherPcNoMapping);
  EXPECT_EQ(world_.settings.count("Quarno"), 0u);

  // The server's FTP mapping points at another PC: the table stays as it is.
  world_ = FakeBootSystem();
  test::RegisterHome(world_, true);
  world_.table[0].internal_client = "198.18.10.11";
  const auto table = world_.table.size();
  EXPECT_EQ(Restore(), kBootOtherPcMapping);
  EXPECT_EQ(world_.table.size(), table);
  EXPECT_EQ(world_.controls, (std::vector<int>{200, 191}));
  EXPECT_EQ(world_.register_calls, 0);
}

TEST_F(LauncherTest, LookupAnswerWithFewerThanThreeFieldsIsNoRecord) {
  // Read by the DDNS client's rule: a host and an address name no server.
  test::RegisterHome(world_, true);
  world_.get_by_mac_answer = "home.quarno.ralmek.co.kr;me@example.org";
  EXPECT_EQ(Restore(), kBootNotRegistered);
  EXPECT_TRUE(world_.config_ftp_ports.empty());
  EXPECT_NE(Log().find("게이트웨이와 Connection 성공"), std::string::npos);
  EXPECT_NE(Log().find("DDNS에 등록된 정보 : home.quarno.ralmek.co.kr;me@example.org"),
            std::string::npos);
  EXPECT_NE(Log().find("DDNS 서버에 등록되어 있지 않습니다."), std::string::npos);
}

TEST_F(LauncherTest, ThisPcWithoutStoredNameTakesTheDdnsRecord) {
  test::RegisterHome(world_, true);
  world_.settings.erase("Quarno");
  world_.settings.erase("email");
  // The mappings' external ports win over the ports of the DDNS answer.
  world_.get_by_mac_answer = "home.quarno.ralmek.co.kr;me@example.org;0;0";
  EXPECT_EQ(Restore(), kBootOk);
  EXPECT_EQ(world_.settings["Quarno"], "home");
  EXPECT_EQ(world_.settings["email"], "me@example.org");
  EXPECT_EQ(world_.settings["Ftp_Port"], "2121");
  EXPECT_EQ(world_.settings["Http_Port"], "8080");
  EXPECT_EQ(world_.config_ftp_ports, std::vector<int>{2121});
  EXPECT_EQ(world_.settings["BOOT_HTTP"], "8080");
  EXPECT_EQ(world_.config_account.charset, "");  // not read on this path
  ASSERT_EQ(world_.router_ddns.size(), 1u);
  EXPECT_EQ(world_.router_ddns[0],
            (std::vector<std::string>{"home", "me@example.org", "2121", "8080"}));
  EXPECT_NE(Log().find("서버를 시작합니다. 2"), std::string::npos);
}

TEST_F(LauncherTest, RenewalRegistersTheStoredAccountOnAPortAboveTheRange) {
  test::RegisterHome(world_, false);
  world_.register_answers = {"good;1;0", "good;1;1"};
  EXPECT_EQ(Restore(), kBootOk);
  // Each pick is over 35001..65535 and never the FTP port.
  ASSERT_EQ(world_.picks.size(), 2u);
  for (const auto& pick : world_.picks) EXPECT_EQ(pick, (std::vector<int>{35001, 65535, 2121}));
  EXPECT_EQ(world_.registrations, (std::vector<std::string>{"me@example.org home 2121 35001",
                                                            "me@example.org home 2121 35002"}));
  EXPECT_EQ(world_.settings["Http_Port"], "35002");
  EXPECT_EQ(world_.settings["BOOT_HTTP"], "35002");
  ASSERT_EQ(world_.router_ddns.size(), 1u);
  EXPECT_EQ(world_.router_ddns[0][3], "35002");
  // Only the second attempt's mappings stay (the passive range once).
  ASSERT_EQ(world_.FtpAndHttp().size(), 2u);
  EXPECT_EQ(world_.FtpAndHttp()[1].external_port, "35002");
  EXPECT_EQ(world_.PassivePorts().size(), 10u);
  EXPECT_EQ(world_.delete_host_calls, 0);

  // A registration answer without its third field is a registration.
  world_ = FakeBootSystem();
  test::RegisterHome(world_, false);
  world_.register_answers = {"good;21"};
  EXPECT_EQ(Restore(), kBootOk);
  EXPECT_EQ(world_.register_calls, 1);
  EXPECT_EQ(world_.settings["Http_Port"], "35001");
  EXPECT_EQ(world_.delete_host_calls, 0);

  world_ = FakeBootSystem();
  test::RegisterHome(world_, false);
  world_.register_answers = {"!badsys"};
  EXPECT_EQ(Restore(), kBootOk);
  EXPECT_EQ(world_.register_calls, 1);
  EXPECT_EQ(world_.delete_host_calls, 1);
  EXPECT_TRUE(world_.router_ddns.empty());
}

TEST_F(LauncherTest, FailedControlsAreLogged) {
  test::RegisterHome(world_, true);
  world_.failing_controls = {190};
  EXPECT_EQ(Restore(), kBootOk);
  EXPECT_NE(Log().find("HTTP 서버 시작에 실패하였습니다."), std::string::npos);
  EXPECT_NE(Log().find("FTP 서버 포트 초기화 설정에 성공하였습니다."), std::string::npos);

  // The server refused the "port closed" file (it answered ERR): no success.
  ResetLogForTesting();
  world_ = FakeBootSystem();
  test::RegisterHome(world_, true);
  world_.failing_controls = {200};
  Restore();
  EXPECT_NE(Log().find("FTP 서버 포트 초기화 설정에 실패하였습니다."), std::string::npos) << Log();
  EXPECT_EQ(Log().find("FTP 서버 포트 초기화 설정에 성공하였습니다."), std::string::npos) << Log();
}

}  // namespace
}  // namespace quarno
