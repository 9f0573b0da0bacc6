// The lab itself: a UPnP mapping made from the pc becomes real DNAT on the
// router, secure mode keeps pc2 from mapping for the pc, and the egress guard
// keeps every packet inside the lab.
#include <gtest/gtest.h>

#include "lab/service/netns_lab.h"

namespace quarno::test {
namespace {

class LabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = NetnsLab::WhyUnavailable(); !why.empty()) GTEST_SKIP() << why;
    lab_ = std::make_unique<NetnsLab>();
    if (!lab_->error().empty()) GTEST_SKIP() << "lab could not be built: " << lab_->error();
  }
  std::unique_ptr<NetnsLab> lab_;
};

TEST_F(LabTest, MappingsBecomeDnatThroughTheRouter) {
  NetnsLab& lab = *lab_;
  EXPECT_NE(lab.Map("pc", lab["PC_IP"], 2121, "Quarno_Server_FTP").find("is redirected to"),
            std::string::npos);
  EXPECT_NE(lab.Mappings().find("2121->" + lab["PC_IP"] + ":2121  'Quarno_Server_FTP'"),
            std::string::npos);
  // A one-shot server in the pc, reached from the internet at the WAN address.
  lab.Exec("pc", "(echo greetings | timeout 5 python3 -c \"import socket,sys;"
                 "s=socket.create_server((\\\"\\\",2121));c,_=s.accept();"
                 "c.sendall(sys.stdin.buffer.read())\") >/dev/null 2>&1 &");
  std::string got;
  for (int i = 0; i < 30 && got.find("greetings") == std::string::npos; ++i) {
    got = lab.Exec("internet", "curl -s -m 1 telnet://" + lab["ROUTER_WAN_IP"] + ":2121 </dev/null");
  }
  EXPECT_NE(got.find("greetings"), std::string::npos) << got;

  // Secure mode: a mapping for another address than the asking one is refused.
  lab.Map("pc2", lab["PC_IP"], 3000, "intruder");
  EXPECT_EQ(lab.Mappings().find("3000->"), std::string::npos);
}

TEST_F(LabTest, EgressGuardKeepsPacketsInside) {
  NetnsLab& lab = *lab_;
  for (const char* role : {"router", "pc", "pc2", "internet"}) {
    EXPECT_NE(lab.Exec(role, "nft list table inet quarno_guard").find("policy drop"),
              std::string::npos)
        << role;
  }
  int status = 0;
  // 203.0.113.9 is outside the lab: dropped on the way out of the pc.
  lab.Exec("pc", "curl -s -m 1 http://203.0.113.9/", &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(lab.Exec("pc", "nft list chain inet quarno_guard output"), "");
  // The DDNS server's name is the simulator, for the pc only.
  EXPECT_NE(lab.Exec("pc", "getent hosts " + lab["DDNS_HOST"]).find(lab["DDNS_IP"]),
            std::string::npos);
}

}  // namespace
}  // namespace quarno::test
