// The healer against the scripted world of the boot launcher's tests: its
// gateway keeps a table like a real one (a port of another client is refused).
#include "registration/mapping_healer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "core/log.h"
#include "support/temp_xdg.h"
#include "unit/service/fake_boot_system.h"

namespace quarno {
namespace {

using namespace std::chrono_literals;
using test::FakeBootSystem;

constexpr char kMe[] = "198.18.10.10";
constexpr char kOther[] = "198.18.10.11";

class Listener : public ExternalAddressListener {
 public:
  bool ExternalAddressChanged(const std::string& address) override {
    told.push_back(address);
    return succeed;
  }
  std::vector<std::string> told;
  bool succeed = true;
};

class HealerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFolder(xdg_.state());
    SetLogFileName(kBootupLogName);
    ResetLogForTesting();
    world_.local = kMe;
  }
  void TearDown() override { SetLogFolder(""); }

  MappingHealer& Healer(HealerOptions options = {}) {
    healer_ = std::make_unique<MappingHealer>(world_, world_, world_, listener_, options);
    healer_->Serve(served_);
    return *healer_;
  }
  std::string Log() {
    std::ifstream in(LogFilePath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  int Count(const std::string& what) {
    const std::string log = Log();
    int n = 0;
    for (auto at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  }
  // The server's whole set, as the boot service leaves it.
  void MapEverything() {
    world_.table = {ServerPortMapping(kFtpMappingDescription, 2121, kMe)};
    for (const PortMapping& m : PassivePortMappings(PassivePortRange(2121), kMe))
      world_.table.push_back(m);
    world_.table.push_back(ServerPortMapping(kHttpMappingDescription, 35002, kMe));
  }

  test::TempXdg xdg_;
  FakeBootSystem world_;
  Listener listener_;
  ServedMappings served_{"198.18.10.1", kMe, 2121, 35002, PassivePortRange(2121), "192.0.3.2"};
  std::unique_ptr<MappingHealer> healer_;
};

TEST_F(HealerTest, AForgetfulRouterGetsEveryMappingBackOnce) {
  MappingHealer& healer = Healer();
  // The router rebooted: its table is empty.
  HealReport report = healer.CheckNow();
  EXPECT_TRUE(report.reached);
  EXPECT_EQ(report.added, 12);
  EXPECT_EQ(world_.FtpAndHttp().size(), 2u);
  EXPECT_EQ(world_.PassivePorts().size(), 10u);
  for (const PortMapping& m : world_.table) {
    EXPECT_EQ(m.internal_client, kMe);
    EXPECT_EQ(m.internal_port, m.external_port);
  }
  EXPECT_EQ(Count("UPnP 포트 포워드가 없어 다시 등록하였습니다"), 12);
  EXPECT_NE(Log().find("다시 등록하였습니다: 2121 TCP -> 198.18.10.10:2121 (Quarno_Server_FTP)"),
            std::string::npos);

  // Everything in place: nothing is sent, nothing logged.
  world_.added.clear();
  report = healer.CheckNow();
  EXPECT_EQ(report.added + report.renewed + report.failed, 0);
  EXPECT_TRUE(world_.added.empty());
  EXPECT_EQ(Count("다시 등록하였습니다"), 12);
  EXPECT_TRUE(listener_.told.empty());  // the WAN address did not change
}

TEST_F(HealerTest, OnlyTheMissingOrRunningOutAreAddedAgain) {
  MapEverything();
  std::erase_if(world_.table, [](const PortMapping& m) { return m.external_port == "29903"; });
  world_.table[0].lease_duration = 600;            // FTP: ten minutes left
  world_.table.back().lease_duration = 7 * 86400;  // HTTP: a week left
  const HealReport report = Healer().CheckNow();
  EXPECT_EQ(report.added, 1);
  EXPECT_EQ(report.renewed, 1);
  ASSERT_EQ(world_.added.size(), 2u);
  EXPECT_EQ(world_.added[0].external_port, "2121");
  EXPECT_EQ(world_.added[1].external_port, "29903");
  EXPECT_NE(Log().find("기간이 끝나가 다시 등록하였습니다: 2121 TCP"), std::string::npos);
}

TEST_F(HealerTest, AnotherPcsMappingsAreNeverTouched) {
  MapEverything();
  // Another PC took the HTTP port and one passive port meanwhile.
  for (PortMapping& m : world_.table) {
    if (m.external_port == "35002" || m.external_port == "29900") {
      m.internal_client = kOther;
      m.description = "game console";
    }
  }
  const std::vector<PortMapping> before = world_.table;
  MappingHealer& healer = Healer();
  HealReport report = healer.CheckNow();
  EXPECT_EQ(report.held_by_other_pc, 2);
  EXPECT_TRUE(world_.added.empty());
  EXPECT_EQ(world_.table.size(), before.size());
  healer.CheckNow();
  // Said once while it lasts.
  EXPECT_EQ(Count("다른 PC에 등록된 포트는 그대로 둡니다: 29900 -> 198.18.10.11, 35002 -> "
                  "198.18.10.11"),
            1);

  // The registration moved: the server's FTP mapping names the other PC. Not
  // even our missing ports are added then.
  world_.table = {ServerPortMapping(kFtpMappingDescription, 2121, kOther)};
  report = healer.CheckNow();
  EXPECT_TRUE(report.moved_away);
  EXPECT_TRUE(world_.added.empty());
  ASSERT_EQ(world_.table.size(), 1u);
  EXPECT_EQ(world_.table[0].internal_client, kOther);
  healer.CheckNow();
  EXPECT_EQ(Count("FTP 포트 포워드가 다른 PC에 등록되어 있어 복구하지 않습니다"), 1);
}

TEST_F(HealerTest, RefusedAdditionsAreLoggedAndTriedAgain) {
  world_.table = {ServerPortMapping("other program", 2121, kOther)};
  served_.passive = {};
  served_.http_port = 0;
  MappingHealer& healer = Healer();
  HealReport report = healer.CheckNow();
  EXPECT_EQ(report.held_by_other_pc, 1);  // by port, whatever its description

  // A gateway that refuses (its answer is not taken for success).
  struct Refusing : FakeBootSystem {
    UpnpActionResult AddMapping(const UpnpControlPoint&, const PortMapping&) override {
      return {kUpnpNoAnswer};
    }
  } refusing;
  refusing.local = kMe;
  MappingHealer strict(refusing, refusing, refusing, listener_);
  strict.Serve(served_);
  report = strict.CheckNow();
  EXPECT_EQ(report.failed, 1);
  EXPECT_EQ(report.added, 0);
  EXPECT_NE(Log().find("UPnP 포트 포워드 복구에 실패하였습니다: 2121 TCP"), std::string::npos);
}

TEST_F(HealerTest, ANewWanAddressReachesTheFtpServerUntilItTakesIt) {
  MapEverything();
  MappingHealer& healer = Healer();
  world_.external_address = "192.0.3.77";
  listener_.succeed = false;
  EXPECT_FALSE(healer.CheckNow().address_changed);
  EXPECT_NE(Log().find("바뀌었으나 FTP 서버 설정을 바꾸지 못하였습니다"), std::string::npos);
  listener_.succeed = true;
  EXPECT_TRUE(healer.CheckNow().address_changed);
  EXPECT_FALSE(healer.CheckNow().address_changed);
  EXPECT_EQ(listener_.told, (std::vector<std::string>{"192.0.3.77", "192.0.3.77"}));
  EXPECT_EQ(healer.Served()->external_address, "192.0.3.77");
  // No answer is no change.
  world_.external_address.reset();
  EXPECT_FALSE(healer.CheckNow().address_changed);
  EXPECT_EQ(listener_.told.size(), 2u);
}

TEST_F(HealerTest, ChecksEachPeriodSoonAfterTheNetworkReturnsAndRetriesAMissingRouter) {
  MapEverything();
  HealerOptions options;
  options.period = 300s;
  options.after_network_back = 5s;
  options.retry = 30s;
  MappingHealer& healer = Healer(options);
  auto checks = [&] { return world_.external_address_calls; };

  world_.Sleep(299s);
  EXPECT_FALSE(healer.Tick());
  world_.Sleep(1s);
  EXPECT_TRUE(healer.Tick());
  EXPECT_EQ(checks(), 1);
  world_.Sleep(100s);
  EXPECT_FALSE(healer.Tick());

  // The cable comes out and back in: a check 5 s later, not 200 s later.
  world_.network_ready_after = -1;
  EXPECT_FALSE(healer.Tick());
  world_.network_ready_after = 0;
  EXPECT_FALSE(healer.Tick());  // back: the address and the router settle first
  world_.Sleep(4s);
  EXPECT_FALSE(healer.Tick());
  world_.Sleep(1s);
  EXPECT_TRUE(healer.Tick());
  EXPECT_EQ(checks(), 2);

  // A router still starting: looked for again after 30 s, and said once.
  world_.upnp_present = false;
  world_.Sleep(300s);
  EXPECT_TRUE(healer.Tick());
  world_.Sleep(30s);
  EXPECT_TRUE(healer.Tick());
  EXPECT_EQ(Count("공유기의 UPnP 장치를 찾지 못하였습니다"), 1);
  world_.upnp_present = true;
  world_.table.clear();
  world_.Sleep(30s);
  EXPECT_TRUE(healer.Tick());
  EXPECT_EQ(world_.table.size(), 12u);

  // Not serving: no checks at all.
  healer.Stop();
  world_.table.clear();
  world_.Sleep(3600s);
  EXPECT_FALSE(healer.Tick());
  EXPECT_EQ(healer.CheckNow().reached, false);
  EXPECT_TRUE(world_.table.empty());
}

TEST_F(HealerTest, RunEndsPromptlyWhenStopped) {
  HealerOptions options;
  options.poll = 10s;
  MappingHealer& healer = Healer(options);
  HealerStop stop;
  std::thread runner([&] { RunHealer(healer, stop); });
  std::this_thread::sleep_for(20ms);
  const auto asked = std::chrono::steady_clock::now();
  stop.Request();
  runner.join();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
}

}  // namespace
}  // namespace quarno
