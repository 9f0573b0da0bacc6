// What clients outside the LAN meet: the passive address and port range,
// limits per address, and names the client's character set cannot hold.
#include <filesystem>

#include "core/log.h"
#include "core/settings.h"
#include "platform/paths.h"
#include "ftpd_fixture.h"

namespace fs = std::filesystem;

// 127.0.0.3 plays a client on the Internet; every other address is on the LAN.
class FtpdBehindRouter : public FtpdTest {
 protected:
  void AdjustOptions(quarno::ftpd::ServerOptions& o) override {
    o.lan_peer = [](const asio::ip::address& peer, const asio::ip::address&) {
      return peer.to_string() != "127.0.0.3";
    };
  }
  std::string ExtraSettings() override {
    low_ = quarno::test::FreeLoopbackPortPair();  // the range is these two
    return "<Item name=\"Custom PASV IP type\" type=\"numeric\">1</Item>"
           "<Item name=\"Custom PASV IP\" type=\"string\">192.0.2.7</Item>"
           "<Item name=\"Use custom PASV ports\" type=\"numeric\">1</Item>"
           "<Item name=\"Custom PASV min port\" type=\"numeric\">" +
           std::to_string(low_) +
           "</Item>"
           "<Item name=\"Custom PASV max port\" type=\"numeric\">" +
           std::to_string(low_ + 1) + "</Item>";
  }
  int low_ = 0;
};

TEST_F(FtpdBehindRouter, OutsideClientsGetTheExternalAddressAndTheConfiguredPorts) {
  std::string data = RandomBytes(300000, 7);
  WriteFile(share_ + "/f.bin", data);
  RunResult r = Python("LOW = " + std::to_string(low_) + R"(
def outside():
    f = ftplib.FTP(timeout=10, source_address=('127.0.0.3', 0))
    f.connect(HOST, PORT)
    f.login('ftp', 'pw')
    return f
o = outside()
host, port = ftplib.parse227(o.sendcmd('PASV'))
assert host == '192.0.2.7' and port in (LOW, LOW + 1), (host, port)
lan = login()
host, port2 = ftplib.parse227(lan.sendcmd('PASV'))
assert host == '127.0.0.1' and port2 in (LOW, LOW + 1) and port2 != port, (host, port2)
# Both ports of the range are taken now.
third = login()
refused(third.sendcmd, 'PASV', code='425')
third.quit()
lan.quit()
o.quit()
# EPSV, as most clients use it, from outside: a whole file through the range.
o = outside()
o.af = socket.AF_INET6
out = []
o.retrbinary('RETR /DISK_E/f.bin', out.append)
assert b''.join(out) == open(SHARE + '/f.bin', 'rb').read()
o.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  RunResult c = RunShell("curl -sS --interface 127.0.0.3 -o " + xdg_->root() + "/c.bin " + FtpUrl("/DISK_E/f.bin"));
  ASSERT_EQ(c.exit_code, 0) << c.output;
  EXPECT_TRUE(ReadFile(xdg_->root() + "/c.bin") == data);
}

// The external address comes with the configuration file and is taken up by
// code 200 while sessions stay.
TEST_F(FtpdBehindRouter, ANewExternalAddressArrivesWithCode200) {
  std::string text = Replace(ConfigText(ftp_port_, "ftp", "pw", ExtraSettings()), "192.0.2.7", "192.0.2.99");
  std::string ctl = quarno::platform::RuntimeFolder() + "/Quarno_Server.ctl";
  // Written now, taken up only when code 200 arrives.
  WriteFile(xdg_->writable() + "/FileZilla Server.xml", text);
  RunResult r = Python("CTL = '" + ctl + R"('
f = ftplib.FTP(timeout=10, source_address=('127.0.0.3', 0))
f.connect(HOST, PORT)
f.login('ftp', 'pw')
assert ftplib.parse227(f.sendcmd('PASV'))[0] == '192.0.2.7'
s = socket.socket(socket.AF_UNIX)
s.connect(CTL)
s.sendall(b'200\n')
assert s.recv(10) == b'OK\n'
assert ftplib.parse227(f.sendcmd('PASV'))[0] == '192.0.2.99'
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

TEST(PeerOnLan, PrivateRangesAndTheLocalNetworkAreLan) {
  using quarno::ftpd::PeerOnLan;
  auto a = [](const char* text) { return asio::ip::make_address(text); };
  auto local = a("198.18.10.10");
  EXPECT_TRUE(PeerOnLan(a("198.18.10.11"), local, 24));
  EXPECT_FALSE(PeerOnLan(a("198.18.11.11"), local, 24));
  EXPECT_FALSE(PeerOnLan(a("192.0.3.1"), local, 24));
  EXPECT_FALSE(PeerOnLan(a("192.0.3.1"), local, std::nullopt));
  for (const char* lan : {"127.0.0.1", "10.1.2.3", "172.20.0.1", "192.168.0.9", "169.254.1.1", "::1", "fe80::1",
                          "fd00::5", "::ffff:192.168.1.2"})
    EXPECT_TRUE(PeerOnLan(a(lan), local, 24)) << lan;
  EXPECT_FALSE(PeerOnLan(a("172.32.0.1"), local, 24));
  EXPECT_TRUE(PeerOnLan(a("2001:db8::7"), a("2001:db8::1"), 64));
  EXPECT_FALSE(PeerOnLan(a("2001:db9::7"), a("2001:db8::1"), 64));
}

class FtpdFewStrangers : public FtpdTest {
 protected:
  void AdjustOptions(quarno::ftpd::ServerOptions& o) override { o.max_unauthenticated_per_address = 8; }
};

// One address holding idle connections that never log in no longer locks
// out everyone else; logged-in sessions do not count against it.
TEST_F(FtpdFewStrangers, IdleConnectionsAreCappedPerAddress) {
  RunResult r = Python(R"(
idle = []
for i in range(8):
    s = socket.create_connection((HOST, PORT), timeout=5)
    assert s.recv(100).startswith(b'220')
    idle.append(s)
s = socket.create_connection((HOST, PORT), timeout=5)
assert s.recv(200).startswith(b'421 Too many connections from your address'), 'not capped'
s.close()
other = ftplib.FTP(timeout=10, source_address=('127.0.0.2', 0))
other.connect(HOST, PORT)
other.login('ftp', 'pw')
idle[0].sendall(b'USER ftp\r\n'); idle[0].recv(100)
idle[0].sendall(b'PASS pw\r\n'); assert idle[0].recv(100).startswith(b'230')
f = login()
assert f.sendcmd('NOOP').startswith('200')
f.quit()
other.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

// "IP Limit" of the account: logins from one address.
TEST_F(FtpdTest, IpLimitOfTheAccountIsHonoured) {
  std::string text = Replace(ConfigText(ftp_port_, "ftp", "pw"), "<Option Name=\"User Limit\">0<",
                             "<Option Name=\"IP Limit\">2</Option><Option Name=\"User Limit\">0<");
  WriteFile(xdg_->writable() + "/FileZilla Server.xml", text);
  ASSERT_EQ(Control("200\n"), "OK\n");
  RunResult r = Python(R"(
a = login(); b = login()
err = refused(login, code='421')
assert 'your address' in err, err
c = ftplib.FTP(timeout=10, source_address=('127.0.0.2', 0))
c.connect(HOST, PORT)
c.login('ftp', 'pw')
a.quit()
d = login()
for f in (b, c, d): f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

// In EUC-KR mode a name CP949 cannot hold (decomposed Hangul as macOS
// writes it, emoji) is left out of listings, with one log line per listing,
// instead of going out as raw UTF-8 that no command then accepts.
TEST_F(FtpdTest, NamesOutsideCp949AreLeftOutOfEucKrListings) {
  ASSERT_TRUE(quarno::WriteSetting(quarno::setting::kFtpCharset, "EUC-KR"));
  WriteFile(share_ + "/한글.txt", "k");
  WriteFile(share_ + "/\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB.txt", "nfd");  // 한 decomposed
  WriteFile(share_ + "/\xF0\x9F\x98\x80.txt", "emoji");
  CaptureLog(xdg_->root() + "/cp-log");
  RunResult r = Python(R"(
f = login('cp949')
f.cwd('/DISK_E')
assert f.nlst() == ['한글.txt'], f.nlst()
lines = []
f.retrlines('LIST', lines.append)
assert len(lines) == 1, lines
assert [n for n, _ in f.mlsd()] == ['한글.txt']
assert f.sendcmd('STAT .').count('\n') == 2
assert f.sendcmd('OPTS UTF8 ON').startswith('200')
f.encoding = 'utf-8'
assert len(f.nlst()) == 3, f.nlst()
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string log = TakeLog();
  EXPECT_EQ(Occurrences(log, "cannot be written in EUC-KR"), 4u) << log;  // NLST, LIST, MLSD, STAT
  EXPECT_NE(log.find("2 name(s)"), std::string::npos) << log;
}

// A listing of a big folder goes out complete while it is produced in
// parts; meanwhile another session is served (how fast, for 100k entries, is
// the benchmark's to say).
TEST_F(FtpdTest, HugeFolderListsCompletelyWhileOthersAreServed) {
  fs::create_directories(share_ + "/huge");
  RunResult r = Python(R"(
for i in range(30000):
    os.close(os.open('%s/huge/f%06d' % (SHARE, i), os.O_CREAT | os.O_WRONLY))
a = login(); b = login()
a.sendcmd('TYPE A')
conn = a.transfercmd('NLST /DISK_E/huge')
assert b.sendcmd('NOOP').startswith('200')
names = conn.makefile('rb').read().split(b'\r\n')[:-1]
conn.close()
assert a.voidresp().startswith('226')
assert len(names) == 30000 and len(set(names)) == 30000, len(names)
a.quit(); b.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}
