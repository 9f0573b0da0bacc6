// The DDNS client against lab/ddns_sim.py on loopback.
#include <gtest/gtest.h>

#include "core/log.h"
#include "ddns/ddns_manager.h"
#include "support/lab_simulator.h"
#include "support/temp_xdg.h"

namespace quarno {
namespace {

using std::chrono::milliseconds;
using test::LabSimulator;

const platform::MacAddress kMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const platform::MacAddress kOtherMac{0x02, 0x00, 0x00, 0x12, 0xAB, 0xCD};

class DdnsSimTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLogForTesting(); }
  void TearDown() override { ResetLogForTesting(); }

  LabSimulator Server(std::vector<std::string> args = {}) {
    return LabSimulator("ddns_sim.py", "127.0.0.3", std::move(args), state_file_);
  }
  CDDNS_Manager Client(const LabSimulator& sim) {
    DdnsOptions options;
    options.port = sim.port();
    options.connect_timeout = milliseconds(1000);
    options.receive_timeout = milliseconds(2000);
    options.show_message = [this](const std::string& text) { shown_.push_back(text); };
    CDDNS_Manager client(options);
    client.SetServerAddress(sim.address());
    return client;
  }

  test::TempXdg xdg_;
  std::string state_file_ = xdg_.root() + "/ddns.json";
  std::vector<std::string> shown_;
};

TEST_F(DdnsSimTest, RegisterLookUpAndDeleteSurviveARestart) {
  {
    LabSimulator sim = Server();
    CDDNS_Manager ddns = Client(sim);
    EXPECT_EQ(ddns.GetByMac(kMac), "null");
    const std::string answer = ddns.RegisterHost("Me@Mail.test", "home", kMac, 21, 80);
    EXPECT_EQ(answer, "good;21;80");
    EXPECT_EQ(ClassifyRegisterAnswer(answer), RegisterVerdict::kComplete);
  }
  LabSimulator sim = Server();  // same table file
  CDDNS_Manager ddns = Client(sim);
  const std::string body = ddns.GetByMac(kMac);
  EXPECT_EQ(body, "home.quarno.ralmek.co.kr;me@mail.test;21;80");
  auto record = ParseGetByMacAnswer(body);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Name(), "home");
  EXPECT_FALSE(ddns.DeleteHost("other@mail.test", "home", kMac));
  EXPECT_TRUE(ddns.DeleteHost("me@mail.test", "home", kMac));
  EXPECT_EQ(ddns.GetByMac(kMac), "null");
  EXPECT_TRUE(shown_.empty());
}

TEST_F(DdnsSimTest, NameHeldForAnotherRouterOrMailIsNotYours) {
  LabSimulator sim = Server();
  CDDNS_Manager ddns = Client(sim);
  ASSERT_EQ(ddns.RegisterHost("a@b.c", "home", kMac, 2121, 8080), "good;2121;8080");
  EXPECT_EQ(ClassifyRegisterAnswer(ddns.RegisterHost("a@b.c", "home", kOtherMac, 21, 80)),
            RegisterVerdict::kNotYours);
  EXPECT_EQ(ClassifyRegisterAnswer(ddns.RegisterHost("x@b.c", "home", kMac, 21, 80)),
            RegisterVerdict::kNotYours);
  EXPECT_EQ(ClassifyRegisterAnswer(ddns.RegisterHost("a@b.c", "bad_name!", kOtherMac, 21, 80)),
            RegisterVerdict::kBadSys);
}

TEST_F(DdnsSimTest, MailWithFormCharactersArrivesIntact) {
  LabSimulator sim = Server();
  CDDNS_Manager ddns = Client(sim);
  ASSERT_EQ(ddns.RegisterHost("a+b&c=d@x.y", "home", kMac, 21, 80), "good;21;80");
  EXPECT_EQ(ddns.GetByMac(kMac), "home.quarno.ralmek.co.kr;a+b&c=d@x.y;21;80");
  EXPECT_TRUE(ddns.DeleteHost("a+b&c=d@x.y", "home", kMac));
}

TEST_F(DdnsSimTest, UpperCaseAnswersAreReadLowerCase) {
  LabSimulator sim = Server({"--upper"});
  CDDNS_Manager ddns = Client(sim);
  EXPECT_EQ(ddns.GetByMac(kMac), "null");  // "NULL" on the wire
  EXPECT_FALSE(ParseGetByMacAnswer(ddns.GetByMac(kMac)));
  ASSERT_EQ(ddns.RegisterHost("a@b.c", "home", kMac, 21, 80), "good;21;80");
  EXPECT_TRUE(ddns.DeleteHost("a@b.c", "home", kMac));  // "OK" on the wire
}

TEST_F(DdnsSimTest, AnswerWithoutBodyIsEmptyEvenThoughTheExchangeWorked) {
  LabSimulator sim = Server({"--no-body-tag"});
  CDDNS_Manager ddns = Client(sim);
  std::string response;
  EXPECT_EQ(ddns.SendRequest(ddns.ComposeRequest(ddns.GetByMacBody(kMac)), response), 1);
  EXPECT_NE(response.find("null"), std::string::npos);
  EXPECT_EQ(ddns.GetByMac(kMac), "");
}

TEST_F(DdnsSimTest, BodyAnnouncedBeyondTheFirstChunkIsReadToTheEnd) {
  LabSimulator sim = Server({"--split-at", "100", "--split-delay", "0.3"});
  CDDNS_Manager ddns = Client(sim);
  EXPECT_EQ(ddns.RegisterHost("a@b.c", "home", kMac, 21, 80), "good;21;80");
}

TEST_F(DdnsSimTest, IncompleteRegistrationAnswer) {
  LabSimulator sim = Server({"--register-answer", "good;0;1"});
  CDDNS_Manager ddns = Client(sim);
  EXPECT_EQ(ClassifyRegisterAnswer(ddns.RegisterHost("a@b.c", "home", kMac, 21, 80)),
            RegisterVerdict::kIncomplete);
}

TEST_F(DdnsSimTest, ShortBodyFailsWithTheCommunicationMessage) {
  LabSimulator sim = Server({"--short-body", "100"});
  CDDNS_Manager ddns = Client(sim);
  std::string response;
  EXPECT_EQ(ddns.SendRequest(ddns.ComposeRequest(ddns.GetByMacBody(kMac)), response), 0);
  EXPECT_NE(response.find("null"), std::string::npos);  // what came stays in the response
  EXPECT_EQ(ddns.GetByMac(kMac), "");
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[0], "DDNS 서버와 통신에 실패하였습니다.");
}

TEST_F(DdnsSimTest, SilentServerTimesOut) {
  LabSimulator sim = Server({"--silence"});
  CDDNS_Manager ddns = Client(sim);
  ddns.MutableOptions().receive_timeout = milliseconds(300);
  EXPECT_EQ(ddns.RegisterHost("a@b.c", "home", kMac, 21, 80), "");
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0], "DDNS 서버와 통신에 타임아웃이 발생하였습니다.");
}

TEST_F(DdnsSimTest, RefusedConnectionIsAConnectionTimeout) {
  DdnsOptions options;
  options.port = 9;
  options.connect_timeout = milliseconds(300);
  options.show_message = [this](const std::string& text) { shown_.push_back(text); };
  CDDNS_Manager ddns(options);
  ddns.SetServerAddress("127.0.0.9");
  std::string response;
  EXPECT_EQ(ddns.SendRequest("x", response), 0);
  EXPECT_FALSE(ddns.DeleteHost("a@b.c", "home", kMac));
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[0], "DDNS Server와 연결 타임아웃이 발생하였습니다.");
  // The boot-up service shows nothing.
  ddns.MutableOptions().program = Program::kBootup;
  EXPECT_EQ(ddns.GetByMac(kMac), "");
  EXPECT_EQ(shown_.size(), 2u);
}

}  // namespace
}  // namespace quarno
