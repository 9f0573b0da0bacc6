// A process out of descriptors cannot make a socket: each client reports that
// with its own lines and result, apart from a peer that cannot be reached.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/log.h"
#include "ddns/ddns_manager.h"
#include "router/router_client.h"
#include "support/files.h"
#include "support/temp_xdg.h"
#include "upnp/upnp_manager.h"

namespace quarno {
namespace {

using std::chrono::milliseconds;

// Holds every free descriptor under a lowered limit while it lives.
class NoFreeDescriptors {
 public:
  NoFreeDescriptors() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 256);
    setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) held_.push_back(fd);
  }
  ~NoFreeDescriptors() {
    for (int fd : held_) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  rlimit saved_{};
  std::vector<int> held_;
};

class NoSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogForTesting();
    WriteLog("start");  // the log file is open before the descriptors run out
  }
  void TearDown() override { ResetLogForTesting(); }
  std::string Log() { return test::ReadLog(); }
  test::TempXdg xdg_;
};

TEST_F(NoSocketTest, DdnsReturnsMinusOneWithItsLines) {
  DdnsOptions options;
  std::vector<std::string> shown;
  options.show_message = [&](const std::string& text) { shown.push_back(text); };
  CDDNS_Manager ddns(options);
  ddns.SetServerAddress("127.0.0.2");
  std::string response;
  testing::internal::CaptureStdout();
  int result;
  {
    NoFreeDescriptors exhausted;
    result = ddns.SendRequest("x", response);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "socket creating error!!\n");
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(shown.empty());
  EXPECT_NE(Log().find("[DDNS] 소켓 생성에 실패하였습니다.\n"), std::string::npos);
}

TEST_F(NoSocketTest, RouterVersionAndDdnsSetting) {
  RouterDdnsOptions options;
  std::vector<std::string> shown;
  options.show_message = [&](const std::string& text) { shown.push_back(text); };
  std::string version = "old";
  int result;
  std::string answer = "x";
  testing::internal::CaptureStdout();
  {
    NoFreeDescriptors exhausted;
    result = GetRouterFirmwareVersion("127.0.0.2", version, options);
    answer = SetRouterDdns("127.0.0.2", "home", "a@b.c", "21", "80", options);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "socket creating error!!\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(version, "old");
  EXPECT_EQ(answer, "");
  EXPECT_TRUE(shown.empty());  // no connection time-out box
  EXPECT_NE(Log().find("펌웨어 버전확인을 위한 소켓생성에 실패하였습니다.\n"), std::string::npos);
}

TEST_F(NoSocketTest, UpnpDiscoveryAndControlRequest) {
  CUPnPManager upnp;
  // A first member call outside the shortage: UBSan's type check needs a descriptor once.
  EXPECT_TRUE(upnp.Mappings().empty());
  std::string control_url;
  int port = 0;
  std::string response = "x";
  {
    NoFreeDescriptors exhausted;
    upnp.DiscoverGateway("127.0.0.2", control_url, port);
    response = SendControlRequest("127.0.0.2", "x", 5000);
  }
  EXPECT_EQ(port, 0);
  EXPECT_EQ(control_url, "");
  EXPECT_EQ(response, "");
  const std::string log = Log();
  EXPECT_NE(log.find("UPnP 장치 탐색을 위한 소켓 생성에 실패하였습니다.\n"), std::string::npos);
  EXPECT_NE(log.find("UPnP 포트 포워드 설정을 위한 소켓 생성에 실패하였습니다.\n"),
            std::string::npos);
  EXPECT_EQ(log.find("커넥션 에러"), std::string::npos);

  testing::internal::CaptureStdout();
  {
    NoFreeDescriptors exhausted;
    response = SendControlRequest("127.0.0.2", "x", 5000, UpnpOptions::ForBootup());
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "TCP socket 생성에 실패하였습니다\n");
}

}  // namespace
}  // namespace quarno
