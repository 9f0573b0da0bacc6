// The FTP server control path end to end against the real quarno-ftpd: the
// boot-time configuration file, the service started by the built-in
// supervisor, a control code, and the admin client's session.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/netprobe.h"
#include "ftpctl/ftp_server.h"
#include "ftpctl/server_interface.h"
#include "platform/paths.h"
#include "support/files.h"
#include "support/temp_xdg.h"

namespace quarno::ftpctl {
namespace {

using namespace std::chrono_literals;

class FtpdServiceTest : public testing::Test {
 protected:
  void SetUp() override { setenv("QUARNO_FTPD_LISTEN", "127.0.0.1", 1); }
  void TearDown() override {
    platform::StopAndWait(*manager, kFtpServiceName, 5s);
    unsetenv("QUARNO_FTPD_LISTEN");
  }
  test::TempXdg xdg;
  std::unique_ptr<platform::ServiceManager> manager = platform::MakeServiceManager();
};

TEST_F(FtpdServiceTest, ConfiguredStartedControlledAndAdministered) {
  std::filesystem::create_directories(xdg.root() + "/share/Photos");
  FtpAccountValues account;
  account.user = "ftp";
  account.password = "secret";
  account.shared_folder = xdg.root() + "/share/Photos";
  // Below the ephemeral range, where other tests' outgoing connections live.
  account.ftp_port = PickFreePort(20000, 25000);
  account.router_mac = {0x02, 0x00, 0x00, 0x12, 0xAB, 0xCD};
  uint16_t admin_port = 0;
  ASSERT_TRUE(WriteFtpServerConfig(account, admin_port));
  ASSERT_NE(admin_port, 0);

  ASSERT_TRUE(StartFtpService(*manager, QUARNO_FTPD_PROGRAM, 10s));
  std::string reason;
  EXPECT_TRUE(platform::SendControlCode(platform::ControlSocketPath(kFtpServiceName),
                                        kControlStartFtp, 5s, &reason))
      << reason << "\n" << test::ReadFile(xdg.writable() + "/Logs/Quarno_Ftpd_log.txt");

  // The daemon opens its admin port shortly after it starts; a client
  // connects once, so each try takes a new one.
  QueueSink sink;
  std::unique_ptr<CServerInterface> client;
  SetUpResult result = SetUpResult::kFailed;
  for (int i = 0; i < 50 && result == SetUpResult::kFailed; ++i) {
    if (i) std::this_thread::sleep_for(50ms);
    while (sink.Wait(0ms)) {
    }
    client = std::make_unique<CServerInterface>(&sink);
    result = client->SetUp(admin_port, 2000ms);
  }
  ASSERT_EQ(result, SetUpResult::kAuthenticated);

  // The option-set reply carries what the file configured.
  bool have_options = false;
  for (int i = 0; i < 10 && !have_options; ++i) {
    auto m = sink.Wait(2000ms);
    ASSERT_TRUE(m);
    have_options = m->id == WM_FTP_STATE && client->Options().Number(OPTION_TIMEOUT) == 300;
  }
  EXPECT_TRUE(have_options);
  EXPECT_EQ(client->Options().Text(OPTION_WELCOMEMESSAGE), "Ralmek_FTPD && Host-AB1222 12ABCD");

  CUserSetting accounts;
  accounts.Append(BuildShareAccount("ftp", "secret", platform::HomeFolder(),
                                    platform::HomeFolder() + "/Photos"));
  EXPECT_TRUE(client->SendAccounts(accounts));
  EXPECT_TRUE(client->SendKeepAlive());
  // Offline, then online: the daemon reports the new state as a status notice.
  for (bool online : {false, true}) {
    EXPECT_TRUE(client->SendServerState(online ? 0x0001 : 0x0004));
    auto deadline = std::chrono::steady_clock::now() + 3s;
    while (bool(client->ServerState() & 1) != online &&
           std::chrono::steady_clock::now() < deadline) {
      sink.Wait(100ms);
    }
    EXPECT_EQ(bool(client->ServerState() & 1), online);
  }
  EXPECT_TRUE(client->IsConnected());

  StopFtpService(*manager);
  EXPECT_TRUE(platform::WaitForServiceState(*manager, kFtpServiceName,
                                            platform::ServiceState::kStopped, 5s));
}

}  // namespace
}  // namespace quarno::ftpctl
