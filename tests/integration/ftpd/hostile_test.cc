// An attacker's second look: races between a command and its data
// connection, special files in the share, rights that only allow appending.
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "core/log.h"
#include "ftpd_fixture.h"

namespace fs = std::filesystem;

// STOR opens its file only once the data connection stands. Meanwhile a
// second session swaps a folder for one holding a link out of the share;
// the upload must not follow it.
TEST_F(FtpdTest, UploadDoesNotFollowALinkSwappedInBeforeTheDataConnection) {
  fs::create_directories(share_ + "/music");
  fs::create_directory_symlink(outside_, share_ + "/music/lib");
  RunResult r = Python(R"(
f = login()
f.mkd('/DISK_E/x')
f.mkd('/DISK_E/x/lib')
f.voidcmd('TYPE I')
host, port = ftplib.parse227(f.sendcmd('PASV'))
f.sock.sendall(b'STOR /DISK_E/x/lib/planted.txt\r\n')
g = login()
g.rename('/DISK_E/x', '/DISK_E/y')
g.rename('/DISK_E/music', '/DISK_E/x')
g.quit()
d = socket.create_connection((host, port))
try:
    d.sendall(b'owned')
except OSError:
    pass
d.close()
resp = f.getmultiline()
if resp.startswith('150'):
    resp = f.getmultiline()
assert resp.startswith('5'), resp
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(fs::exists(outside_ + "/planted.txt"));
}

// Between RNFR and RNTO another session swaps folders so that the name
// RNFR approved now leads out of the share; RNTO must not move the outside
// file in (nor away from where it belongs).
TEST_F(FtpdTest, RenameSourceIsCheckedAgainWhenTheTargetArrives) {
  fs::create_directories(share_ + "/music");
  fs::create_directory_symlink(outside_, share_ + "/music/lib");
  RunResult r = Python(R"(
import io
f = login()
f.mkd('/DISK_E/x')
f.mkd('/DISK_E/x/lib')
f.storbinary('STOR /DISK_E/x/lib/secret.txt', io.BytesIO(b'decoy'))
assert f.sendcmd('RNFR /DISK_E/x/lib/secret.txt').startswith('350')
g = login()
g.rename('/DISK_E/x', '/DISK_E/y')
g.rename('/DISK_E/music', '/DISK_E/x')
g.quit()
refused(f.sendcmd, 'RNTO /DISK_E/stolen.txt')
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(ReadFile(outside_ + "/secret.txt"), "secret");
  EXPECT_FALSE(fs::exists(share_ + "/stolen.txt"));
}

// A named pipe must not block the one event loop that serves everybody.
TEST_F(FtpdTest, NamedPipeInTheShareIsRefusedWithoutBlocking) {
  ASSERT_EQ(::mkfifo((share_ + "/pipe").c_str(), 0644), 0);
  RunResult r = Python(R"(
import io
f = login()
refused(f.retrbinary, 'RETR /DISK_E/pipe', print, code='550')
refused(f.storbinary, 'STOR /DISK_E/pipe', io.BytesIO(b'x'))
g = login()
assert g.pwd() == '/'
g.quit()
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

class FtpdAppendOnly : public FtpdTest {
 protected:
  void SetUp() override {
    FtpdTest::SetUp();
    // Read and append in the share, no writing, deleting or renaming.
    std::string text = ConfigText(ftp_port_, "ftp", "pw");
    for (const char* right : {"FileWrite", "FileDelete", "DirDelete"})
      text = Replace(text, std::string(right) + "\">1<", std::string(right) + "\">0<");
    WriteFile(xdg_->writable() + "/FileZilla Server.xml", text);
    ASSERT_EQ(Control("200\n"), "OK\n");
  }
};

TEST_F(FtpdAppendOnly, ResumeMayExtendButNotRewriteAFile) {
  WriteFile(share_ + "/log.txt", "0123456789");
  RunResult r = Python(R"(
import io
f = login()
refused(f.storbinary, 'STOR /DISK_E/log.txt', io.BytesIO(b'XY'), 8192, None, 2)
refused(f.storbinary, 'STOR /DISK_E/log.txt', io.BytesIO(b'XY'))
f.storbinary('STOR /DISK_E/log.txt', io.BytesIO(b'ab'), 8192, None, 10)
f.storbinary('APPE /DISK_E/log.txt', io.BytesIO(b'cd'))
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(ReadFile(share_ + "/log.txt"), "0123456789abcd");
}

// The account limit is an unsigned 32-bit count; the largest one still
// means "many", not "none".
TEST_F(FtpdTest, LargestUserLimitStillAdmitsUsers) {
  std::string text = Replace(ConfigText(ftp_port_, "ftp", "pw"), "<Option Name=\"User Limit\">0<",
                             "<Option Name=\"User Limit\">4294967295<");
  WriteFile(xdg_->writable() + "/FileZilla Server.xml", text);
  ASSERT_EQ(Control("200\n"), "OK\n");
  RunResult r = Python("login().quit()\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

// Clients that vanish at each step of a session leave nothing behind and
// never take the daemon down.
TEST_F(FtpdTest, ClientsVanishingAtEveryStepLeaveTheServerWhole) {
  WriteFile(share_ + "/big.bin", RandomBytes(8 << 20, 7));
  WriteFile(share_ + "/keep.txt", "keep");
  RunResult r = Python(R"(
def raw(lines, data_stage=None):
    s = socket.create_connection((HOST, PORT))
    s.settimeout(5)
    s.recv(1000)
    d = None
    for line in lines:
        s.sendall(line + b'\r\n')
        time.sleep(0.02)
        try:
            resp = s.recv(4000)
        except OSError:
            resp = b''
        if resp.startswith(b'227'):
            nums = resp.split(b'(')[1].split(b')')[0].split(b',')
            d = socket.create_connection((HOST, int(nums[4]) * 256 + int(nums[5])))
    if d is not None and data_stage == 'read-some':
        d.recv(1000)
    if d is not None and data_stage == 'write-some':
        d.sendall(b'partial')
    if d is not None and data_stage == 'close-data-first':
        d.close()
        time.sleep(0.05)
    s.close()
    if d is not None:
        d.close()

login_lines = [b'USER ftp', b'PASS pw']
stages = [
    ([], None),
    ([b'USER ftp'], None),
    ([b'USER ftp', b'PASS wrong'], None),
    (login_lines + [b'PASV'], None),
    (login_lines + [b'PASV', b'LIST /DISK_E'], None),
    (login_lines + [b'PASV', b'RETR /DISK_E/big.bin'], 'read-some'),
    (login_lines + [b'PASV', b'RETR /DISK_E/big.bin'], 'close-data-first'),
    (login_lines + [b'TYPE A', b'PASV', b'RETR /DISK_E/big.bin'], 'read-some'),
    (login_lines + [b'PASV', b'STOR /DISK_E/up.bin'], 'write-some'),
    (login_lines + [b'PASV', b'STOR /DISK_E/up2.bin'], 'close-data-first'),
    (login_lines + [b'PASV', b'REST 5', b'APPE /DISK_E/up.bin'], None),
    (login_lines + [b'PORT 127,0,0,1,4,1', b'RETR /DISK_E/keep.txt'], None),
    (login_lines + [b'PASV', b'RETR /DISK_E/big.bin', b'ABOR'], 'read-some'),
    (login_lines + [b'RNFR /DISK_E/keep.txt'], None),
    (login_lines + [b'STAT /DISK_E'], None),
]
for lines, data_stage in stages:
    raw(lines, data_stage)
f = login()
assert f.size('/DISK_E/big.bin') == 8 << 20
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(ReadFile(share_ + "/keep.txt"), "keep");
  for (int i = 0; i < 100 && OnLoop([this] { return server_->session_count(); }) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(OnLoop([this] { return server_->session_count(); }), 0u);
}

// Even when the home itself grants every right, the home and the share
// link are never deleted, renamed or replaced, whatever the spelling.
class FtpdHomeWithAllRights : public FtpdTest {
 protected:
  void SetUp() override {
    FtpdTest::SetUp();
    std::string text = ConfigText(ftp_port_, "ftp", "pw");
    for (int i = 0; i < 6; ++i)  // the home's six file and folder rights
      text = Replace(text, "\">0</Option>", "\">1</Option>");
    WriteFile(xdg_->writable() + "/FileZilla Server.xml", text);
    ASSERT_EQ(Control("200\n"), "OK\n");
  }
};

TEST_F(FtpdHomeWithAllRights, RootsStayPut) {
  fs::create_directories(share_ + "/sub");
  RunResult r = Python(R"(
import io
f = login()
f.mkd('/scratch')  # the home really is writable
for p in ['/DISK_E', 'DISK_E', '/DISK_E/', '/DISK_E/.', '/DISK_E/sub/..', '//DISK_E', '/', '.', '/DISK_E/sub/../..']:
    refused(f.rmd, p)
    refused(f.delete, p)
    refused(f.rename, p, '/moved')
for p in ['/DISK_E', '/', '/DISK_E/.']:
    refused(f.rename, '/scratch', p)
    refused(f.storbinary, 'STOR ' + p, io.BytesIO(b'x'))
f.cwd('/DISK_E/sub')
refused(f.rmd, '..')
refused(f.rmd, '.')
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(fs::is_symlink(home_ + "/DISK_E"));
  EXPECT_TRUE(fs::is_directory(share_ + "/sub"));
}

// Every session may hold four descriptors; a soft limit far below that (1024
// under a service manager) must not decide how many users get served.
TEST_F(FtpdTest, DescriptorLimitMakesRoomForTheSessionCap) {
  StopServer();
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  if (saved.rlim_max < 4096) GTEST_SKIP() << "hard descriptor limit below 4096";
  rlimit low = saved;
  low.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  StartServer();
  rlimit now{};
  getrlimit(RLIMIT_NOFILE, &now);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_GE(now.rlim_cur, 4u * 512);
}

// Links out of the share are unusable, and listings do not show them either
// (they would give away the kind, size and age of outside files).
TEST_F(FtpdTest, ListingsLeaveOutLinksThatLeadOutOfTheShare) {
  fs::create_directories(share_ + "/sub");
  WriteFile(share_ + "/sub/in.txt", "in");
  fs::create_directory_symlink(outside_, share_ + "/out");
  fs::create_symlink(outside_ + "/secret.txt", share_ + "/secret.txt");
  fs::create_symlink("../../outside/secret.txt", share_ + "/sub/rel.txt");
  fs::create_symlink("sub/in.txt", share_ + "/inside.txt");
  RunResult r = Python(R"(
f = login()
assert sorted(f.nlst('/DISK_E')) == ['inside.txt', 'sub'], f.nlst('/DISK_E')
assert [n for n, facts in f.mlsd('/DISK_E/sub')] == ['in.txt'], list(f.mlsd('/DISK_E/sub'))
lines = []
f.retrlines('LIST /DISK_E', lines.append)
assert len(lines) == 2 and not any('secret' in l or ' out' in l for l in lines), lines
stat = f.sendcmd('STAT /DISK_E')
assert 'secret' not in stat and 'inside.txt' in stat, stat
assert sorted(f.nlst('/')) == ['DISK_E'], f.nlst('/')
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

// Anyone on the Internet can knock on a passive port; that must not be a way
// to fill the disk with log lines.
TEST_F(FtpdTest, StrangersKnockingOnAPassivePortAreLoggedOnce) {
  CaptureLog(xdg_->root() + "/knock-log");
  RunResult r = Python(R"(
f = login()
host, port = ftplib.parse227(f.sendcmd('PASV'))
for i in range(30):
    s = socket.socket()
    s.bind(('127.0.0.2', 0))
    s.connect((host, port))
    s.settimeout(5)
    assert s.recv(10) == b''
    s.close()
f.sock.sendall(b'NLST\r\n')
d = socket.create_connection((host, port))
assert f.getresp().startswith('150')
d.recv(1000)
d.close()
assert f.voidresp().startswith('226')
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string log = TakeLog();
  EXPECT_EQ(Occurrences(log, "refused data connection"), 1u) << log;
}

// MLSD facts of a folder tell what may be done inside it: the share link in
// the read-only home is writable, a client must not be told otherwise.
TEST_F(FtpdTest, MlsdPermissionsOfAFolderAreThatFoldersOwn) {
  RunResult r = Python(R"(
f = login()
facts = dict(f.mlsd('/'))
perm = facts['DISK_E']['perm']
assert 'c' in perm and 'm' in perm, facts
assert f.sendcmd('MLST /DISK_E').split('\n')[1].split('perm=')[1].startswith(perm), perm
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

// EPSV with a network protocol this connection does not use, and the other
// set-up commands after EPSV ALL, are refused as the extension says.
TEST_F(FtpdTest, EpsvProtocolAndEpsvAllAreHonoured) {
  RunResult r = Python(R"(
f = login()
refused(f.sendcmd, 'EPSV 2', code='522')
assert f.sendcmd('EPSV 1').startswith('229')
assert f.sendcmd('EPSV ALL').startswith('200')
refused(f.sendcmd, 'PASV', code='503')
refused(f.sendcmd, 'PORT 127,0,0,1,200,1', code='503')
refused(f.sendcmd, 'EPRT |1|127.0.0.1|51000|', code='503')
f.af = socket.AF_INET6  # makes ftplib use EPSV
assert f.nlst('/') == ['DISK_E']
f.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
}
