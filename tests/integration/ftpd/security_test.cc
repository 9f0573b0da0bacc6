// Hostile input: traversal, links out of the share, bounce attacks, floods,
// oversized lines, offline and locked states, time-outs and session caps.
#include <filesystem>

#include "ftpd_fixture.h"

namespace fs = std::filesystem;

TEST_F(FtpdTest, TraversalCorpusIsRefused) {
  fs::create_directory_symlink(outside_, share_ + "/out");
  fs::create_symlink(outside_ + "/secret.txt", share_ + "/link.txt");
  fs::create_directories(share_ + "/sub");
  RunResult r = Python(R"(
import io
f = login()
for p in ['..', '../..', '/..', '/DISK_E/../..', 'DISK_E/../../etc']:
    refused(f.cwd, p)
for p in ['../../etc/passwd', '/../etc/passwd', '/DISK_E/../../outside/secret.txt',
          '/DISK_E/out/secret.txt', '/DISK_E/link.txt', '/etc/passwd', 'DISK_E/sub/../../../outside/secret.txt']:
    refused(f.retrbinary, 'RETR ' + p, print)
    refused(f.sendcmd, 'SIZE ' + p)
refused(f.cwd, '/DISK_E/out')
refused(f.storbinary, 'STOR /DISK_E/out/planted.txt', io.BytesIO(b'x'))
refused(f.storbinary, 'STOR /DISK_E/link.txt', io.BytesIO(b'x'))
refused(f.storbinary, 'APPE /DISK_E/link.txt', io.BytesIO(b'x'))
refused(f.mkd, '/DISK_E/out/newdir')
refused(f.delete, '/DISK_E/out/secret.txt')
refused(f.rename, '/DISK_E/sub', '/DISK_E/out/sub')
refused(f.retrlines, 'LIST /DISK_E/out')
e = refused(f.cwd, 'DISK_E/' + 'a' * 300)
assert e.startswith('553'), e
refused(f.sendcmd, 'MKD ' + ('b' * 200 + '/') * 25)
# NUL inside a command
f.sock.sendall(b'RETR DISK_E/sub\x00/../../../outside/secret.txt\r\n')
try:
    f.getresp()
    raise AssertionError('NUL accepted')
except ftplib.error_perm as e:
    assert str(e).startswith('501'), e
# \ is an ordinary character, not a separator
refused(f.retrbinary, 'RETR DISK_E\\..\\..\\outside\\secret.txt', print)
assert f.pwd() == '/'
f.quit()
# An overlong line ends the session.
s = socket.create_connection((HOST, PORT))
s.recv(1000)
s.sendall(b'USER ' + b'x' * 10000 + b'\r\n')
data = b''
while True:
    chunk = s.recv(1000)
    if not chunk:
        break
    data += chunk
assert data.startswith(b'500'), data
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(ReadFile(outside_ + "/secret.txt"), "secret");
  EXPECT_FALSE(fs::exists(outside_ + "/planted.txt"));
  EXPECT_FALSE(fs::exists(outside_ + "/newdir"));
  EXPECT_TRUE(fs::exists(share_ + "/sub"));
}

TEST_F(FtpdTest, DataConnectionsOnlyWithTheClientItself) {
  RunResult r = Python(R"(
f = login()
refused(f.sendcmd, 'PORT 127,0,0,2,200,1', code='504')
refused(f.sendcmd, 'PORT 127,0,0,1,0,21', code='504')      # privileged port
refused(f.sendcmd, 'EPRT |1|127.0.0.3|51000|', code='504')
refused(f.sendcmd, 'PORT 1,2,3')
# Passive: a stranger's connection is turned away, the client's own accepted.
f.set_pasv(True)
resp = f.sendcmd('PASV')
host, port = ftplib.parse227(resp)
stranger = socket.socket()
stranger.bind(('127.0.0.2', 0))
stranger.connect((host, port))
stranger.settimeout(5)
assert stranger.recv(10) == b''
f.sock.sendall(b'LIST\r\n')
d = socket.create_connection((host, port))
assert f.getresp().startswith('150')
listing = b''
while True:
    c = d.recv(1000)
    if not c:
        break
    listing += c
assert b'DISK_E' in listing
assert f.voidresp().startswith('226')
# EPSV works too.
conn = f.transfercmd('NLST')
conn.close()
f.voidresp()
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

TEST_F(FtpdTest, ThreeFailedLoginsEndTheConnection) {
  RunResult r = Python(R"(
# Three failures end the connection.
s = socket.create_connection((HOST, PORT))
s.settimeout(10)
s.recv(1000)
for i in range(3):
    s.sendall(b'USER ftp\r\nPASS nope\r\n')
data = b''
while True:
    c = s.recv(1000)
    if not c:
        break
    data += c
assert data.count(b'530') == 3, data
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

class FtpdFloodTest : public FtpdTest {
 protected:
  // The flood and the good login share one address here: this is about the
  // per-connection delay, not the address ban (doors_test.cc covers that).
  std::string ExtraSettings() override {
    return "<Item name=\"Autoban enable\" type=\"numeric\">0</Item>";
  }
  void SetUp() override {
    login_delay_ = std::chrono::milliseconds(2000);
    FtpdTest::SetUp();
  }
};
TEST_F(FtpdFloodTest, GoodLoginIsNotHeldUpByBadOnes) {
  RunResult r = Python(R"(
flood = []
for i in range(20):
    s = socket.create_connection((HOST, PORT))
    s.recv(1000)
    s.sendall(b'USER ftp\r\nPASS wrong\r\n')
    flood.append(s)
t = time.time()
f = login()
f.quit()
assert time.time() - t < 1.5, time.time() - t
for s in flood:
    s.settimeout(10)
    data = b''
    while b'530' not in data:
        data += s.recv(1000)
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

class FtpdShortTimeouts : public FtpdTest {
 protected:
  std::string ExtraSettings() override {
    return "<Item name=\"Login Timeout\" type=\"numeric\">1</Item>"
           "<Item name=\"Maximum user count\" type=\"numeric\">3</Item>";
  }
};

TEST_F(FtpdShortTimeouts, LoginTimeoutAndSessionCap) {
  RunResult r = Python(R"(
s = socket.create_connection((HOST, PORT))
s.settimeout(10)
assert s.recv(1000).startswith(b'220')
t = time.time()
assert s.recv(1000).startswith(b'421'), 'no login time-out'
keep = [login() for i in range(3)]
s = socket.create_connection((HOST, PORT))
s.settimeout(10)
assert s.recv(1000).startswith(b'421'), 'no cap'
keep[0].quit()
time.sleep(0.3)
login().quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}
