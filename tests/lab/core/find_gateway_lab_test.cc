// FindGateway in network namespaces of its own: a "pc" namespace whose default
// route points over a veth pair at a "router" namespace. Nothing here touches
// the host's network; the addresses exist only inside the namespaces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/netprobe.h"

namespace quarno {
namespace {

constexpr char kRouterMac[] = "02:13:00:00:00:01";

bool Sh(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string SelfExe() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
}

// Two namespaces joined by a veth pair made inside them; removed on
// destruction (the veth pair goes with them).
class Lab {
 public:
  Lab() {
    std::string id = std::to_string(getpid());
    pc_ = "quarno-fg-pc-" + id;
    router_ = "quarno-fg-rt-" + id;
    if (!Sh("ip netns add " + pc_)) return;
    if (!Sh("ip netns add " + router_)) return;
    ok_ = Sh("ip -n " + pc_ + " link add qfg0 type veth peer name qfg1 netns " + router_) &&
          Sh("ip -n " + router_ + " link set qfg1 address " + kRouterMac) &&
          Sh("ip -n " + router_ + " addr add 198.18.7.1/24 dev qfg1") &&
          Sh("ip -n " + router_ + " link set qfg1 up") &&
          Sh("ip -n " + router_ + " link set lo up") &&
          Sh("ip -n " + pc_ + " addr add 198.18.7.2/24 dev qfg0") &&
          Sh("ip -n " + pc_ + " link set qfg0 up") && Sh("ip -n " + pc_ + " link set lo up");
    // The kernel reports the link running a moment after it is set up.
    for (int i = 0; ok_ && i < 100; ++i) {
      if (Sh("ip -n " + pc_ + " -o link show qfg0 | grep -q 'state UP'")) return;
      usleep(50000);
    }
    ok_ = false;
  }
  ~Lab() {
    Sh("ip netns del " + pc_);
    Sh("ip netns del " + router_);
  }
  bool ok() const { return ok_; }
  bool InPc(const std::string& command) const { return Sh("ip -n " + pc_ + " " + command); }
  // Runs one disabled probe test of this binary inside the pc namespace.
  bool RunProbe(const std::string& test, const std::string& expect_env) const {
    std::string command = "QUARNO_LAB_EXPECT='" + expect_env + "' ip netns exec " + pc_ + " " +
                          SelfExe() + " --gtest_also_run_disabled_tests --gtest_filter=" + test;
    return std::system((command + " >&2").c_str()) == 0;
  }

 private:
  std::string pc_, router_;
  bool ok_ = false;
};

class FindGatewayLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    if (!Sh("command -v ip")) GTEST_SKIP() << "iproute2 (ip) is not installed";
    lab_ = std::make_unique<Lab>();
    if (!lab_->ok()) GTEST_SKIP() << "network namespaces or veth pairs are unavailable here";
  }
  std::unique_ptr<Lab> lab_;
};

TEST_F(FindGatewayLab, FindsRouterAddressLocalAddressAndMac) {
  ASSERT_TRUE(lab_->InPc("route add default via 198.18.7.1"));
  EXPECT_TRUE(lab_->RunProbe("FindGatewayProbe.DISABLED_Inside", "found"));
}

TEST_F(FindGatewayLab, FailsWithoutDefaultRouteOrWithSilentGateway) {
  EXPECT_TRUE(lab_->RunProbe("FindGatewayProbe.DISABLED_Inside", "no-route"));
  // A gateway address nobody answers for: the route is there, the MAC is not.
  ASSERT_TRUE(lab_->InPc("route add default via 198.18.7.9"));
  EXPECT_TRUE(lab_->RunProbe("FindGatewayProbe.DISABLED_Inside", "silent"));
}

// The half that runs inside the pc namespace.
TEST(FindGatewayProbe, DISABLED_Inside) {
  const char* expect = std::getenv("QUARNO_LAB_EXPECT");
  ASSERT_NE(expect, nullptr) << "run by FindGatewayLab only";
  GatewayInfo info;
  info.local_address = "kept";
  std::string mode = expect;
  if (mode == "found") {
    EXPECT_TRUE(WaitForNetwork(30, std::chrono::milliseconds(100)));
    ASSERT_TRUE(FindGateway(info));
    EXPECT_EQ(info.gateway, "198.18.7.1");
    EXPECT_EQ(info.local_address, "198.18.7.2");
    EXPECT_EQ(FormatMac(info.mac), "02:13:00:00:00:01");
    EXPECT_EQ(FormatMac(LastGatewayMac()), "02:13:00:00:00:01");
    EXPECT_TRUE(IsNetworkAlive());
  } else if (mode == "no-route") {
    EXPECT_FALSE(FindGateway(info));
    EXPECT_EQ(info.gateway, "");
    EXPECT_TRUE(IsNetworkAlive());  // up with an address, just no way out
    EXPECT_FALSE(WaitForNetwork(2, std::chrono::milliseconds(50)));
  } else {
    EXPECT_FALSE(FindGateway(info));
    EXPECT_EQ(info.gateway, "198.18.7.9");
    EXPECT_EQ(info.local_address, "198.18.7.2");
    EXPECT_EQ(FormatMac(LastGatewayMac()), "00:00:00:00:00:00");
  }
}

}  // namespace
}  // namespace quarno
