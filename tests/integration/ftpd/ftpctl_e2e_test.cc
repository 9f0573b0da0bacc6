// The main program's admin client drives the daemon over loopback: state,
// option set, account and the connected-users list with live notices.
#include <regex>

#include "core/messages.h"
#include "ftpctl/account.h"
#include "ftpctl/general_option.h"
#include "ftpctl/server_interface.h"
#include "ftpd_fixture.h"

using namespace std::chrono_literals;
using quarno::WM_FTP_CONNECTIONS;
using quarno::WM_FTP_STATE;

namespace {

// Waits for message `id`, dropping others.
bool WaitFor(quarno::QueueSink& sink, unsigned id, std::chrono::milliseconds limit = 5s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    auto m = sink.Wait(100ms);
    if (m && m->id == id) return true;
  }
  return false;
}

template <typename Pred>
bool Eventually(Pred pred, std::chrono::milliseconds limit = 5s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

}  // namespace

TEST_F(FtpdTest, AdminClientOfTheMainProgramDrivesTheDaemon) {
  quarno::QueueSink sink;
  quarno::ftpctl::CServerInterface admin(&sink);
  ASSERT_EQ(admin.SetUp(static_cast<uint16_t>(admin_port_), 2000ms),
            quarno::ftpctl::SetUpResult::kAuthenticated);
  ASSERT_TRUE(WaitFor(sink, WM_FTP_STATE));  // the option-set reply
  EXPECT_EQ(admin.Options().Text(1), std::to_string(ftp_port_));
  EXPECT_EQ(admin.ServerState(), 0x0001);
  EXPECT_EQ(admin.Connections().size(), 0u);

  // SwitchServers(off): the last state with bit 0x02 set.
  ASSERT_TRUE(admin.SendServerState(static_cast<uint16_t>(admin.ServerState() | 0x02)));
  ASSERT_TRUE(WaitFor(sink, WM_FTP_STATE));
  EXPECT_EQ(admin.ServerState(), 0x0000);
  EXPECT_EQ(Python("refused(login, code='421')\n").exit_code, 0);

  // The settings workflow: account, then option set and online.
  auto user = quarno::ftpctl::BuildShareAccount("홍길동", "비밀 번호", home_, home_ + "/DISK_E");
  quarno::ftpctl::CUserSetting accounts;
  accounts.Append(user);
  ASSERT_TRUE(admin.SendAccounts(accounts));
  int new_port = FreeLoopbackPort();
  quarno::ftpctl::CGeneralOption options;
  options.SetText(1, std::to_string(new_port));
  options.SetNumber(4, 300);
  options.SetNumber(5, 0);
  options.SetText(16, "Ralmek_FTPD && Host-AB1222 12ABCD");
  options.SetNumber(17, admin_port_);
  ASSERT_TRUE(admin.SendOptions(options));
  ASSERT_TRUE(admin.SendServerState(static_cast<uint16_t>((admin.ServerState() & 0x10) | 0x01)));
  ASSERT_TRUE(WaitFor(sink, WM_FTP_STATE));
  ASSERT_TRUE(Eventually([&] { return admin.ServerState() == 0x0001; }));
  ftp_port_ = new_port;

  // A client comes, logs in and stays a moment: the list follows it live.
  std::thread client([this] {
    RunResult r = Python(R"(
f = ftplib.FTP(timeout=10)
w = f.connect(HOST, PORT)
assert w == '220 Ralmek_FTPD && Host-AB1222 12ABCD', w
f.login('홍길동', '비밀 번호')
assert f.nlst('/DISK_E') == []
time.sleep(1.0)
f.quit()
)");
    EXPECT_EQ(r.exit_code, 0) << r.output;
  });
  ASSERT_TRUE(Eventually([&] {
    auto list = admin.Connections().Snapshot();
    return list.size() == 1 && list[0].user_name == "홍길동";
  }));
  auto list = admin.Connections().Snapshot();
  EXPECT_EQ(list[0].address, "127.0.0.1");
  EXPECT_TRUE(std::regex_match(list[0].time_text, std::regex(R"(\d{4}\.\d\d\.\d\d\. (AM|PM) \d\d:\d\d:\d\d)")));

  // A second admin connection asking for the full list sees the same client with its time.
  quarno::QueueSink sink2;
  quarno::ftpctl::CServerInterface second(&sink2);
  ASSERT_EQ(second.SetUp(static_cast<uint16_t>(admin_port_), 2000ms), quarno::ftpctl::SetUpResult::kAuthenticated);
  ASSERT_TRUE(WaitFor(sink2, WM_FTP_CONNECTIONS));
  auto full = second.Connections().Snapshot();
  ASSERT_EQ(full.size(), 1u);
  EXPECT_EQ(full[0].address, "127.0.0.1");
  EXPECT_EQ(full[0].user_name, "(not logged in)");
  EXPECT_TRUE(std::regex_match(full[0].time_text, std::regex(R"(\d{4}\.\d\d\.\d\d\. (AM|PM) \d\d:\d\d:\d\d)")));

  client.join();
  EXPECT_TRUE(Eventually([&] { return admin.Connections().size() == 0; }));
  EXPECT_TRUE(admin.SendKeepAlive());
  EXPECT_FALSE(admin.Dropped());
}
