// The admin interface end to end: greeting, state, connection list with live
// notices, option set, account message, malformed input; and the control codes.
#include <filesystem>
#include <regex>
#include <thread>

#include "core/settings.h"
#include "httpd/http_access.h"
#include "ftpd_fixture.h"

namespace fs = std::filesystem;
using quarno::ftpd::Bytes;

namespace {

std::string Text16(const Bytes& p, size_t& pos) {
  if (pos + 2 > p.size()) return "<cut>";
  size_t n = size_t(p[pos]) << 8 | p[pos + 1];
  if (pos + 2 + n > p.size()) return "<cut>";
  std::string s(p.begin() + static_cast<long>(pos + 2), p.begin() + static_cast<long>(pos + 2 + n));
  pos += 2 + n;
  return s;
}

}  // namespace

TEST_F(FtpdTest, AdminStateAndConnectionListWithLiveNotices) {
  AdminClient admin(admin_port_);
  ASSERT_TRUE(admin.ok());
  EXPECT_EQ(admin.greeting, quarno::ftpd::Greeting());
  Bytes p;
  ASSERT_TRUE(admin.Send(2, {}));
  ASSERT_TRUE(admin.Expect(1, 2, p));
  EXPECT_EQ(p, (Bytes{0, 1}));
  ASSERT_TRUE(admin.Send(3, {0}));
  ASSERT_TRUE(admin.Expect(1, 3, p));
  EXPECT_EQ(p, (Bytes{0, 0, 0}));

  RunResult r = Python("f = login()\nprint('PORT', f.sock.getsockname()[1])\nimport sys; sys.stdout.flush()\n"
                       "time.sleep(1.5)\nf.quit()\n");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  int client_port = std::stoi(r.output.substr(r.output.find("PORT ") + 5));
  ASSERT_TRUE(admin.Expect(2, 3, p));  // connected
  ASSERT_GE(p.size(), 6u);
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(p[1], 0);
  size_t pos = 6;
  EXPECT_EQ(Text16(p, pos), "127.0.0.1");
  EXPECT_EQ(p.size(), pos + 4);
  EXPECT_EQ(size_t(p[pos]) | size_t(p[pos + 1]) << 8, static_cast<size_t>(client_port));
  Bytes id(p.begin() + 2, p.begin() + 6);
  ASSERT_TRUE(admin.Expect(2, 3, p));  // logged in
  EXPECT_EQ(p, (Bytes{1, 1, id[0], id[1], id[2], id[3], 0, 3, 'f', 't', 'p'}));
  ASSERT_TRUE(admin.Expect(2, 3, p));  // gone
  EXPECT_EQ(p, (Bytes{1, 2, id[0], id[1], id[2], id[3]}));

  // A full list while someone is connected carries the connection time as its second text.
  RunShell("(python3 -c \"import socket,time; s=socket.create_connection(('127.0.0.1'," + std::to_string(ftp_port_) +
           ")); time.sleep(3)\" >/dev/null 2>&1 &) ; sleep 0.1");
  ASSERT_TRUE(admin.Expect(2, 3, p));
  ASSERT_TRUE(admin.Send(3, {0}));
  ASSERT_TRUE(admin.Expect(1, 3, p));
  ASSERT_GE(p.size(), 3u);
  EXPECT_EQ(p[0], 0);
  ASSERT_EQ(p[2], 1);
  pos = 7;
  ASSERT_GT(p.size(), pos + 2);
  EXPECT_EQ(Text16(p, pos), "127.0.0.1");
  pos += 4;
  ASSERT_GT(p.size(), pos + 2);
  std::string when = Text16(p, pos);
  EXPECT_TRUE(std::regex_match(when, std::regex(R"(\d{4}\.\d\d\.\d\d\. (AM|PM) \d\d:\d\d:\d\d)"))) << when;
  EXPECT_EQ(p.size(), pos + 1);
}

TEST_F(FtpdTest, AdminOfflineStateRefusesLogins) {
  AdminClient admin(admin_port_);
  ASSERT_TRUE(admin.ok());
  RunResult r;
  // One client in, offline, the client is logged out and nobody gets in.
  std::thread client([this, &r] {
    r = Python(R"(
f = login()
open(OUTSIDE + '/ready', 'w').close()
for i in range(200):
    if os.path.exists(OUTSIDE + '/offline'):
        break
    time.sleep(0.05)
try:
    f.voidcmd('NOOP')
    raise AssertionError('still connected')
except ftplib.all_errors + (EOFError,) as e:
    assert '421' in str(e) or isinstance(e, EOFError), repr(e)
refused(login, code='421')
)");
  });
  for (int i = 0; i < 200 && !fs::exists(outside_ + "/ready"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  Bytes p;
  ASSERT_TRUE(admin.Send(2, {0, 0x03}));  // what the main program sends to go offline
  ASSERT_TRUE(admin.Expect(2, 2, p));
  EXPECT_EQ(p, (Bytes{0, 0}));
  WriteFile(outside_ + "/offline", "");
  client.join();
  EXPECT_EQ(r.exit_code, 0) << r.output;

  ASSERT_TRUE(admin.Send(2, {0, 0x11}));  // online but locked: still no new logins
  ASSERT_TRUE(admin.Expect(2, 2, p));
  EXPECT_EQ(p, (Bytes{0, 0x11}));
  EXPECT_NE(Python("refused(login, code='421')\n").exit_code, 1);
  ASSERT_TRUE(admin.Send(2, {0, 0x01}));
  ASSERT_TRUE(admin.Expect(2, 2, p));
  EXPECT_EQ(p, (Bytes{0, 1}));
  RunResult back = Python("login().quit()\n");
  EXPECT_EQ(back.exit_code, 0) << back.output;
}

TEST_F(FtpdTest, AdminOptionSetAndAccountsTakeEffect) {
  AdminClient admin(admin_port_);
  ASSERT_TRUE(admin.ok());
  Bytes p;
  ASSERT_TRUE(admin.Send(5, {}));
  ASSERT_TRUE(admin.Expect(1, 5, p));
  quarno::ftpd::GeneralOptions options;
  ASSERT_TRUE(quarno::ftpd::ParseOptions(p.data(), p.size(), options));
  EXPECT_EQ(options.Text(quarno::ftpd::kOptServerports), std::to_string(ftp_port_));
  EXPECT_EQ(options.Number(quarno::ftpd::kOptAdminPort), admin_port_);

  // What the main program sends: an empty set with five options filled in.
  int new_port = FreeLoopbackPort();
  quarno::ftpd::GeneralOptions send;
  send.SetText(quarno::ftpd::kOptServerports, std::to_string(new_port));
  send.SetNumber(quarno::ftpd::kOptTimeout, 300);
  send.SetText(quarno::ftpd::kOptWelcome, "새 환영 && hello");
  send.SetNumber(quarno::ftpd::kOptAdminPort, admin_port_);
  ASSERT_TRUE(admin.Send(5, quarno::ftpd::SerializeOptions(send)));
  ASSERT_TRUE(admin.Expect(1, 5, p));
  int old_port = ftp_port_;
  ftp_port_ = new_port;
  RunResult r = Python("f = ftplib.FTP(timeout=10)\nw = f.connect(HOST, PORT)\nassert w == '220 새 환영 && hello', w\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  RunResult old = RunShell("curl -sS --list-only ftp://ftp:pw@127.0.0.1:" + std::to_string(old_port) + "/");
  EXPECT_EQ(old.exit_code, 7) << old.output;  // nothing listens there now

  // Replace the accounts: a Korean user with an empty password and only the share as home.
  quarno::ftpd::Account a;
  a.user_name = "사용자";
  a.permissions.push_back({home_, {}, quarno::ftpd::kDirList | quarno::ftpd::kDirSubdirs | quarno::ftpd::kIsHome});
  a.permissions.push_back({home_ + "/DISK_E", {}, 0xFF});
  ASSERT_TRUE(admin.Send(6, quarno::ftpd::SerializeAccountMessage({a})));
  ASSERT_TRUE(admin.Expect(1, 6, p));
  r = Python(R"(
refused(login, 'utf-8', 'ftp', 'pw')
f = login('utf-8', '사용자', '')
assert f.nlst() == ['DISK_E']
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  ASSERT_TRUE(admin.Send(6, {}));
  ASSERT_TRUE(admin.Expect(1, 6, p));
  EXPECT_EQ(p, quarno::ftpd::SerializeAccountMessage({a}));
}

TEST_F(FtpdTest, MalformedAdminMessageClosesOnlyThatConnection) {
  AdminClient good(admin_port_), bad1(admin_port_), bad2(admin_port_), bad3(admin_port_);
  ASSERT_TRUE(good.ok() && bad1.ok() && bad2.ok() && bad3.ok());
  EXPECT_TRUE(bad1.SendRaw({0x09, 0, 0, 0, 0}));           // a reply from a client
  EXPECT_TRUE(bad2.SendRaw({0x14, 3, 0, 0, 0, 1, 2, 3}));  // option set cut short
  EXPECT_TRUE(bad3.Send(6, {0, 0, 0, 1, 0}));              // account message cut short
  EXPECT_TRUE(bad1.Closed());
  EXPECT_TRUE(bad2.Closed());
  EXPECT_TRUE(bad3.Closed());
  Bytes p;
  ASSERT_TRUE(good.Send(8, {}));
  ASSERT_TRUE(good.Expect(1, 8, p));
  ASSERT_TRUE(good.Send(6, {}));
  ASSERT_TRUE(good.Expect(1, 6, p));
  std::vector<quarno::ftpd::Account> users;
  ASSERT_TRUE(quarno::ftpd::ParseAccountMessage(p.data(), p.size(), users));
  ASSERT_EQ(users.size(), 1u);  // the bad message changed nothing
  EXPECT_EQ(users[0].user_name, "ftp");
}

TEST_F(FtpdTest, ControlCodes) {
  int new_port = FreeLoopbackPort();
  WriteFile(xdg_->writable() + "/FileZilla Server.xml", ConfigText(new_port, "other", "pw2"));
  EXPECT_EQ(Control("200\n"), "OK\n");
  ftp_port_ = new_port;
  RunResult r = Python("login('utf-8', 'other', 'pw2').quit()\nrefused(login)\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;

  WriteFile(xdg_->writable() + "/FileZilla Server.xml", "<FileZillaServer><Users>");
  std::string answer = Control("200\n");
  EXPECT_EQ(answer.rfind("ERR ", 0), 0u) << answer;
  r = Python("login('utf-8', 'other', 'pw2').quit()\n");  // the last good configuration stays
  EXPECT_EQ(r.exit_code, 0) << r.output;

  EXPECT_EQ(Control("190\n").rfind("ERR", 0), 0u);  // BOOT_HTTP not set
  int http_port = FreeLoopbackPort();
  ASSERT_TRUE(quarno::WriteSetting(quarno::setting::kBootHttp, std::to_string(http_port)));
  ASSERT_TRUE(quarno::WriteSetting(quarno::setting::kMac, "12ABCD"));
  ASSERT_TRUE(quarno::WriteAccount("ftp", "pw", share_, "UTF-8"));
  WriteFile(share_ + "/movie.bin", "0123456789");
  EXPECT_EQ(Control("190\n"), "OK\n");
  std::string base = "http://127.0.0.1:" + std::to_string(http_port);
  RunResult id = RunShell("curl -sS " + base + "/quarno.html");
  EXPECT_EQ(id.output, "Ralmek_NAS-AB1122 12ABCD");
  RunResult file = RunShell("curl -sS --digest -u ftp:pw -r 2-4 " + base + "/httpstream/x/DISK_E/movie.bin");
  EXPECT_EQ(file.output, "234");
  EXPECT_EQ(Control("191\n"), "OK\n");
  EXPECT_NE(RunShell("curl -sS " + base + "/quarno.html").exit_code, 0);

  EXPECT_EQ(Control("77\n"), "ERR unknown control code\n");
  EXPECT_EQ(Control("hello\n"), "ERR bad request\n");
}

// The daemon's HTTP serving reads the same settings as the window's server.
TEST_F(FtpdTest, HttpServingLetsInTheAccountTheLinkOrEveryoneWhenOpen) {
  const int http_port = FreeLoopbackPort();
  ASSERT_TRUE(quarno::WriteSetting(quarno::setting::kBootHttp, std::to_string(http_port)));
  ASSERT_TRUE(quarno::WriteAccount("ftp", "pw", share_, "UTF-8"));
  WriteFile(share_ + "/movie.bin", "0123456789");
  ASSERT_EQ(Control("190\n"), "OK\n");
  const std::string base = "http://127.0.0.1:" + std::to_string(http_port);
  const std::string token = quarno::httpd::StoredShareToken("ftp", "pw");
  ASSERT_EQ(token.size(), 32u);
  auto status = [&](const std::string& curl, const std::string& token_segment) {
    return RunShell("curl -s -o /dev/null -w '%{http_code}' " + curl + " " + base +
                    "/httpstream/" + token_segment + "/DISK_E/movie.bin")
        .output;
  };
  EXPECT_EQ(status("", "x"), "401");
  EXPECT_EQ(status("--anyauth -u ftp:pw", "x"), "200");
  EXPECT_EQ(status("--digest -u ftp:wrong", "x"), "401");
  EXPECT_EQ(status("", token), "200");
  // The old link ends with the password it was made from (read within a second).
  ASSERT_TRUE(quarno::WriteAccount("ftp", "pw2", share_, "UTF-8"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(status("", token), "401");
  EXPECT_EQ(status("", quarno::httpd::StoredShareToken("ftp", "pw2")), "200");
  ASSERT_TRUE(quarno::WriteSetting(quarno::setting::kHttpOpen, "1"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(status("", "x"), "200");
  EXPECT_EQ(Control("191\n"), "OK\n");
}

// One ban for both protocols: passwords guessed over HTTP lock the address out
// of FTP too, and the other way round would let a guesser switch protocols.
TEST_F(FtpdTest, WrongHttpPasswordsBanTheAddressFromFtp) {
  const int http_port = FreeLoopbackPort();
  ASSERT_TRUE(quarno::WriteSetting(quarno::setting::kBootHttp, std::to_string(http_port)));
  ASSERT_TRUE(quarno::WriteAccount("ftp", "pw", share_, "UTF-8"));
  ASSERT_EQ(Control("190\n"), "OK\n");
  const std::string url =
      "http://127.0.0.1:" + std::to_string(http_port) + "/httpstream/x/DISK_E/";
  // Failures after the first are paced (one check a second): wait out the pace.
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(i ? 1100 : 0));
    EXPECT_EQ(RunShell("curl -s -o /dev/null -w '%{http_code}' --digest -u ftp:wrong " + url).output,
              "401")
        << i;
  }
  RunResult ftp = Python("print(refused(login, code='421'))\n");
  EXPECT_EQ(ftp.exit_code, 0) << ftp.output;
  EXPECT_NE(ftp.output.find("Too many failed logins"), std::string::npos) << ftp.output;
  EXPECT_EQ(Control("191\n"), "OK\n");
}
