// The attacks the daemon's doors stand against, each played on loopback:
// turning a data connection on the daemon's own ports, guessing passwords,
// crowding the places before login, holding passive ports, reading hashes
// back, and talking to (or as) an admin that is not who it seems.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <regex>
#include <sstream>

#include "core/log.h"
#include "core/messages.h"
#include "core/settings.h"
#include "ftpd/doors.h"
#include "ftpctl/admin_auth.h"
#include "ftpctl/server_interface.h"
#include "ftpd_fixture.h"

namespace fs = std::filesystem;
using quarno::ftpd::Bytes;
using namespace std::chrono_literals;

namespace {

// Python helpers on top of the fixture's: connections from a chosen
// loopback address, raw or through ftplib.
const char kFrom[] = R"(
class Raw:
    def __init__(self, addr):
        self.s = socket.create_connection((HOST, PORT), timeout=15, source_address=(addr, 0))
        self.r = self.s.makefile('rb')
    def line(self):
        return self.r.readline().decode('utf-8', 'replace')
    def send(self, text):
        self.s.sendall(text.encode() + b'\r\n')
    def reply(self, text):
        self.send(text)
        return self.line()
def login_from(addr, user='ftp', pw='pw'):
    f = ftplib.FTP(timeout=10, source_address=(addr, 0))
    f.connect(HOST, PORT)
    f.login(user, pw)
    return f
)";

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace

// ---- a data connection turned on the daemon itself ----

// The daemon as it runs for real: an admin connection out of its own process
// is a data connection it was talked into, never its admin.
class FtpdDoorsOwnProcess : public FtpdTest {
 protected:
  void AdjustOptions(quarno::ftpd::ServerOptions& o) override { o.admin_from_own_process = false; }
};

TEST_F(FtpdDoorsOwnProcess, DataConnectionsToTheDaemonsOwnPortsAreRefused) {
  CaptureLog(xdg_->root() + "/takeover-log");
  const int http_port = FreeLoopbackPort();
  ASSERT_TRUE(quarno::WriteSetting(quarno::setting::kBootHttp, std::to_string(http_port)));
  ASSERT_EQ(Control("190\n"), "OK\n");
  // What the attacker wants the daemon to say on its own admin port: an
  // account list holding only the attacker's account.
  quarno::ftpd::Account mallory;
  mallory.user_name = "mallory";
  mallory.password = quarno::ftpd::Md5Hex("owned");
  mallory.permissions.push_back({home_, {}, 0x3FF});
  Bytes frames = quarno::ftpd::Frame(quarno::ftpd::AdminType::kCommand, 6,
                                     quarno::ftpd::SerializeAccountMessage({mallory}));
  WriteFile(outside_ + "/frames.bin", Text(frames));

  struct Target {
    const char* name;
    int port;
  };
  const std::vector<Target> targets = {
      {"admin", admin_port_}, {"ftp", ftp_port_}, {"http", http_port}, {"1023", 1023}, {"21", 21}};
  std::string table = "TARGETS = [";
  for (const auto& t : targets)
    table += "('" + std::string(t.name) + "', " + std::to_string(t.port) + "), ";
  table += "]\n";
  RunResult r = Python(table + R"(
f = login()
with open(OUTSIDE + '/frames.bin', 'rb') as src:
    f.storbinary('STOR /DISK_E/frames.bin', src)
taken = []
for name, port in TARGETS:
    for cmd in ('PORT 127,0,0,1,%d,%d' % (port >> 8, port & 255), 'EPRT |1|127.0.0.1|%d|' % port):
        try:
            f.sendcmd(cmd)
            taken.append((name, cmd))
        except ftplib.error_perm as e:
            assert str(e).startswith('504'), (name, str(e))
            # No target was taken, so the file goes nowhere.
            refused(f.sendcmd, 'RETR /DISK_E/frames.bin', code='425')
            continue
        # Taken: play the attack through, so what follows shows its effect.
        try:
            if f.sendcmd('RETR /DISK_E/frames.bin').startswith('150'):
                f.voidresp()
        except ftplib.all_errors:
            pass
        time.sleep(0.2)
f.quit()
refused(login, 'utf-8', 'mallory', 'owned', code='530')
assert not taken, taken
login().quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(OnLoop([this] { return server_->FindAccount("mallory") == nullptr; }), true);
  EXPECT_NE(OnLoop([this] { return server_->FindAccount("ftp"); }), nullptr);
  // The last line of defence: whatever reaches the admin port from inside
  // this process (this test is that process) is not served.
  AdminClient self(admin_port_);
  EXPECT_FALSE(self.ok());
  EXPECT_EQ(Control("191\n"), "OK\n");
  const std::string log = TakeLog();
  EXPECT_EQ(Occurrences(log, "data connection to this server's own port"), 1u) << log;
  EXPECT_EQ(Occurrences(log, "a connection from this daemon's own process refused"), 1u) << log;
}

// ---- password guessing ----

TEST_F(FtpdTest, GuessingFromOneAddressBansItWithOneLogLine) {
  CaptureLog(xdg_->root() + "/ban-log");
  RunResult r = Python(std::string(kFrom) + R"(
# Five failures (three on the first connection, which then ends).
c = Raw('127.0.0.2')
assert c.line().startswith('220')
for i in range(3):
    assert c.reply('USER ftp').startswith('331')
    assert c.reply('PASS wrong%d' % i).startswith('530')
assert c.line() == ''
c = Raw('127.0.0.2')
assert c.line().startswith('220')
assert c.reply('USER ftp').startswith('331')
assert c.reply('PASS wrong3').startswith('530')
assert c.reply('USER ftp').startswith('331')
ban = c.reply('PASS wrong4')
assert ban.startswith('421 Too many failed logins from your address; try again in 15 minutes.'), ban
assert c.line() == ''
# Banned at the door now, even with the right password.
for i in range(5):
    c = Raw('127.0.0.2')
    assert c.line() == ban, ban
    assert c.line() == ''
refused(login_from, '127.0.0.2', code='421')
# Another address is not touched by the ban.
login_from('127.0.0.3').quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string log = TakeLog();
  EXPECT_EQ(Occurrences(log, "banned for"), 1u) << log;
  EXPECT_EQ(Occurrences(log, "127.0.0.2 banned for 900 s"), 1u) << log;
}

// Guessers spread over many addresses share one slow lane of password
// checks; somebody who has not failed never queues in it.
TEST_F(FtpdTest, ChecksAfterFailuresArePacedAcrossAddressesButAFreshLoginIsNot) {
  RunResult r = Python(std::string(kFrom) + R"(
import threading
guessers = ['127.0.0.%d' % i for i in range(11, 16)]
conns = []
for addr in guessers:
    c = Raw(addr)
    assert c.line().startswith('220')
    assert c.reply('USER ftp').startswith('331')
    assert c.reply('PASS first').startswith('530')  # each address fails once
    assert c.reply('USER ftp').startswith('331')
    conns.append(c)
answered = {}
def second_guess(c, addr):
    answer = c.reply('PASS second')
    answered[addr] = (time.time(), answer)
threads = [threading.Thread(target=second_guess, args=(c, a)) for c, a in zip(conns, guessers)]
for t in threads:
    t.start()
time.sleep(0.3)  # every guess is queued by now
start = time.time()
fresh = Raw('127.0.0.20')
assert fresh.line().startswith('220')
assert fresh.reply('USER ftp').startswith('331')
reply = fresh.reply('PASS pw')
fresh_at = time.time()
assert reply.startswith('230'), reply
for t in threads:
    t.join(30)
assert len(answered) == len(guessers), answered
for addr, (at, answer) in answered.items():
    assert answer.startswith('530'), (addr, answer)
times = sorted(at for at, answer in answered.values())
span = times[-1] - times[0]
print('FIGURE fresh login under a paced queue: %.2f s; guesses spread over %.2f s' % (fresh_at - start, span))
# Five checks one second apart take four seconds at the least.
assert span >= 3.0, times
# The fresh login did not wait behind the queue.
assert fresh_at < times[-1], (fresh_at, times)
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::cout << r.output;
}

// ---- crowding the places before login ----

class FtpdDoorsCrowd : public FtpdTest {
 protected:
  // 40 sessions: 20 places before login, so the crowd below is far beyond.
  std::string ExtraSettings() override {
    return "<Item name=\"Maximum user count\" type=\"numeric\">40</Item>";
  }
};

TEST_F(FtpdDoorsCrowd, StrangersFromEightAddressesDoNotKeepAUserOut) {
  RunResult r = Python(std::string(kFrom) + R"(
crowd = []
for i in range(12):
    for a in range(1, 9):
        s = socket.create_connection((HOST, PORT), timeout=10, source_address=('127.0.0.%d' % a, 0))
        crowd.append(s)
start = time.time()
f = login_from('127.0.0.9')
names = f.nlst('/')
took = time.time() - start
assert names == ['DISK_E'], names
f.quit()
print('FIGURE login and listing beside %d strangers: %.2f s' % (len(crowd), took))
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::cout << r.output;
}

// ---- passive ports held ----

class FtpdDoorsPassiveRange : public FtpdTest {
 protected:
  // Three passive ports, as a router maps a small range: one address holding
  // them all would stop every other client's transfers.
  std::string ExtraSettings() override {
    pasv_min_ = ThreeFreePorts();
    return "<Item name=\"Use custom PASV ports\" type=\"numeric\">1</Item>"
           "<Item name=\"Custom PASV min port\" type=\"numeric\">" +
           std::to_string(pasv_min_) +
           "</Item><Item name=\"Custom PASV max port\" type=\"numeric\">" +
           std::to_string(pasv_min_ + 2) + "</Item>";
  }
  static bool Bindable(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
  }
  static int ThreeFreePorts() {
    for (int i = 0; i < 50; ++i) {
      int base = FreeLoopbackPort();
      if (base + 2 <= 65535 && Bindable(base + 1) && Bindable(base + 2)) return base;
    }
    return 0;
  }
  int pasv_min_ = 0;
};

TEST_F(FtpdDoorsPassiveRange, IdleSessionsOfOneAddressLeaveAPassivePortForOthers) {
  ASSERT_NE(pasv_min_, 0);
  WriteFile(share_ + "/film.bin", RandomBytes(1 << 20, 3));
  RunResult r = Python(std::string(kFrom) + R"(
held, opened, refusals = [], 0, []
for i in range(10):
    f = login_from('127.0.0.2')
    try:
        f.sendcmd('PASV')
        opened += 1
    except ftplib.error_temp as e:
        refusals.append(str(e))
    held.append(f)
assert opened == 2, (opened, refusals)
assert all(e.startswith('425') for e in refusals), refusals
start = time.time()
g = login_from('127.0.0.3')
data = bytearray()
g.retrbinary('RETR /DISK_E/film.bin', data.extend)
assert len(data) == 1 << 20
print('FIGURE transfer beside 10 idle passive sessions: %.2f s' % (time.time() - start))
# Each download's data connection is ended by the server and leaves its port
# in TIME_WAIT for a minute; a folder of files fetched one by one must not
# use up the one port left.
for i in range(4):
    data = bytearray()
    g.retrbinary('RETR /DISK_E/film.bin', data.extend)
    assert len(data) == 1 << 20, (i, len(data))
g.quit()
)");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::cout << r.output;
}

namespace {

// A control connection from `from`, for a test longer than RunShell allows.
class RawFtp {
 public:
  RawFtp(const char* from, int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, from, &a.sin_addr);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RawFtp() {
    if (fd_ >= 0) close(fd_);
  }
  // The next reply line, empty after 5 s or at the end.
  std::string Line() {
    std::string line;
    char c;
    pollfd p{fd_, POLLIN, 0};
    while (fd_ >= 0 && poll(&p, 1, 5000) > 0 && recv(fd_, &c, 1, 0) == 1) {
      line += c;
      if (c == '\n') break;
    }
    return line;
  }
  std::string Command(const std::string& text) {
    std::string line = text + "\r\n";
    send(fd_, line.data(), line.size(), MSG_NOSIGNAL);
    return Line();
  }
  bool LogIn() {
    return Line().rfind("220", 0) == 0 && Command("USER ftp").rfind("331", 0) == 0 &&
           Command("PASS pw").rfind("230", 0) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace

// A listener nobody connects to gives its place back after the unused
// limit, so an address cannot keep its share for the whole session time-out.
TEST_F(FtpdDoorsPassiveRange, UnusedPassiveListenersGiveTheirPlacesBack) {
  ASSERT_NE(pasv_min_, 0);
  RawFtp first("127.0.0.2", ftp_port_), second("127.0.0.2", ftp_port_), third("127.0.0.2", ftp_port_);
  ASSERT_TRUE(first.LogIn() && second.LogIn() && third.LogIn());
  EXPECT_EQ(first.Command("PASV").substr(0, 4), "227 ");
  EXPECT_EQ(second.Command("PASV").substr(0, 4), "227 ");
  EXPECT_EQ(third.Command("PASV").substr(0, 4), "425 ");
  const auto limit = quarno::ftpd::Doors::kPassiveUnusedLimit;
  const auto start = std::chrono::steady_clock::now();
  std::string reply;
  while (std::chrono::steady_clock::now() - start < limit + 15s) {
    reply = third.Command("PASV");
    if (reply.rfind("227 ", 0) == 0) break;
    std::this_thread::sleep_for(1s);
  }
  const auto waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
  std::cout << "FIGURE unused passive listeners closed after " << waited.count() << " s\n";
  EXPECT_EQ(reply.substr(0, 4), "227 ") << "the unused listeners were never closed";
  EXPECT_GE(waited, limit - 5s) << "closed before their time";
}

// ---- the accounts read back ----

TEST_F(FtpdTest, AccountsReadBackCarryNoPasswordHashes) {
  AdminClient admin(admin_port_);
  ASSERT_TRUE(admin.ok());
  quarno::ftpd::Account sent;
  sent.user_name = "sent";
  sent.password = quarno::ftpd::Md5Hex("s3cret");
  sent.permissions.push_back({home_, {}, quarno::ftpd::kDirList | quarno::ftpd::kIsHome});
  struct Row {
    const char* how;
    std::string user, password;
  };
  const std::vector<Row> rows = {{"from the file", "ftp", "pw"}, {"from the admin", "sent", "s3cret"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.how);
    if (row.user == "sent") {
      Bytes p;
      ASSERT_TRUE(admin.Send(6, quarno::ftpd::SerializeAccountMessage({sent})));
      ASSERT_TRUE(admin.Expect(1, 6, p));
    }
    Bytes p;
    ASSERT_TRUE(admin.Send(6, {}));
    ASSERT_TRUE(admin.Expect(1, 6, p));
    std::string hash = quarno::ftpd::Md5Hex(row.password), upper = hash;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Text(p).find(hash), std::string::npos);
    EXPECT_EQ(Text(p).find(upper), std::string::npos);
    std::vector<quarno::ftpd::Account> users;
    ASSERT_TRUE(quarno::ftpd::ParseAccountMessage(p.data(), p.size(), users));
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].user_name, row.user);
    EXPECT_EQ(users[0].password, "");
    // The daemon itself still knows it: reading back did not wipe it.
    RunResult r = Python("login('utf-8', '" + row.user + "', '" + row.password + "').quit()\n");
    EXPECT_EQ(r.exit_code, 0) << r.output;
  }
}

// ---- the log ----

TEST_F(FtpdTest, LogOfClientAddressesIsPrivateAndRotatesWithoutLosingLines) {
  const std::string folder = xdg_->root() + "/daemon-log";
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms(0755));  // as an older version left it
  CaptureLog(folder);
  quarno::SetLogFileLimitForTesting(400);  // the run fills four files
  RunResult r = Python(std::string(kFrom) + R"(
for i in range(12):
    login_from('127.0.0.%d' % (30 + i)).quit()
)");
  quarno::SetLogFileLimitForTesting(0);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const std::string base = quarno::LogFilePath();
  std::string all;
  int files = 0;
  for (int i = quarno::kLogFilesKept - 1; i >= 0; --i) {
    const std::string path = i ? base + "." + std::to_string(i) : base;
    if (::stat(path.c_str(), &st) != 0) continue;
    ++files;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
    all += ReadFile(path);
  }
  EXPECT_GE(files, 3) << "no rotation happened";
  std::istringstream in(all);
  std::string line;
  const std::regex whole(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] .*)");
  while (std::getline(in, line)) EXPECT_TRUE(std::regex_match(line, whole)) << line;
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(Occurrences(all, "logged in from 127.0.0." + std::to_string(30 + i) + "\n"), 1u) << i;
  TakeLog();
}

// ---- who the admin talks to, and who may talk to the admin ----

namespace {

// A listener on 127.0.0.1 in a child running as `uid`; the child exits 0
// when the one connection it accepts ends without a byte, 13 when one came.
struct ForeignListener {
  pid_t pid = -1;
  int port = 0;
  explicit ForeignListener(uid_t uid) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid = fork();
    if (pid == 0) {
      close(ready[0]);
      if (uid != geteuid() && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(10);
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t n = sizeof a;
      if (bind(fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || listen(fd, 4) != 0 ||
          getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        _exit(11);
      uint16_t p = ntohs(a.sin_port);
      if (write(ready[1], &p, sizeof p) != sizeof p) _exit(11);
      pollfd w{fd, POLLIN, 0};
      if (poll(&w, 1, 10000) <= 0) _exit(12);
      int c = accept(fd, nullptr, nullptr);
      pollfd r{c, POLLIN, 0};
      if (poll(&r, 1, 10000) <= 0) _exit(12);
      char byte;
      _exit(recv(c, &byte, 1, 0) == 0 ? 0 : 13);
    }
    close(ready[1]);
    uint16_t p = 0;
    pollfd r{ready[0], POLLIN, 0};
    if (pid > 0 && poll(&r, 1, 5000) > 0 && read(ready[0], &p, sizeof p) == sizeof p) port = p;
    close(ready[0]);
  }
  int Wait() {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

}  // namespace

TEST(FtpdDoorsAdminClient, SpeaksOnlyToAListenerOfItsOwnUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  struct Row {
    const char* who;
    uid_t uid;
    bool used;
  };
  for (const Row& row : {Row{"nobody", 65534, false}, Row{"this user", geteuid(), true}}) {
    SCOPED_TRACE(row.who);
    quarno::test::TempXdg xdg;  // the client's log goes there
    ForeignListener listener(row.uid);
    ASSERT_NE(listener.port, 0);
    quarno::QueueSink sink;
    {
      quarno::ftpctl::CServerInterface client(&sink);
      EXPECT_EQ(client.Connect(static_cast<uint16_t>(listener.port)), row.used);
    }
    EXPECT_EQ(listener.Wait(), 0) << "10 setuid, 11 listen, 12 no connection/close, 13 a byte came";
  }
}

TEST_F(FtpdTest, WrongAnswersToTheAdminChallengeAreRefusedAndClosed) {
  CaptureLog(xdg_->root() + "/challenge-log");
  auto secret = quarno::ftpctl::ReadAdminSecret();
  ASSERT_TRUE(secret);
  AdminClient other(admin_port_, false);
  ASSERT_TRUE(other.ok());
  auto other_nonce = quarno::ftpctl::ParseChallenge(other.challenge.data(), other.challenge.size());
  ASSERT_TRUE(other_nonce);
  struct Row {
    const char* what;
    // The bytes sent after the challenge, given this connection's right answer.
    std::function<Bytes(const Bytes& right)> bytes;
    bool told;  // answered "not accepted" before the close
  };
  using quarno::ftpd::AdminType;
  using quarno::ftpd::Frame;
  const std::vector<Row> rows = {
      {"empty", [](const Bytes&) { return Frame(AdminType::kCommand, 0, {}); }, true},
      {"one byte short",
       [](const Bytes& right) { return Frame(AdminType::kCommand, 0, Bytes(right.begin(), right.end() - 1)); },
       true},
      {"one byte long",
       [](const Bytes& right) {
         Bytes b = right;
         b.push_back(0);
         return Frame(AdminType::kCommand, 0, b);
       },
       true},
      {"garbage",
       [](const Bytes&) {
         std::string g = RandomBytes(32, 11);
         return Frame(AdminType::kCommand, 0, Bytes(g.begin(), g.end()));
       },
       true},
      {"another connection's answer",
       [&](const Bytes&) { return Frame(AdminType::kCommand, 0, quarno::ftpctl::ChallengeAnswer(*secret, *other_nonce)); },
       true},
      {"the right answer under another command",
       [](const Bytes& right) { return Frame(AdminType::kCommand, 6, right); }, true},
      {"a command instead of an answer", [](const Bytes&) { return Frame(AdminType::kCommand, 6, {}); }, true},
      {"a length beyond any message", [](const Bytes&) { return Bytes{0, 0xFF, 0xFF, 0xFF, 0x7F}; }, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    AdminClient admin(admin_port_, false);
    ASSERT_TRUE(admin.ok());
    auto nonce = quarno::ftpctl::ParseChallenge(admin.challenge.data(), admin.challenge.size());
    ASSERT_TRUE(nonce);
    ASSERT_TRUE(admin.SendRaw(row.bytes(quarno::ftpctl::ChallengeAnswer(*secret, *nonce))));
    Bytes p;
    if (row.told) {
      ASSERT_TRUE(admin.Expect(2, 4, p));
      EXPECT_EQ(Text(p), "Admin password not accepted.");
    }
    EXPECT_TRUE(admin.Closed());
  }
  // The daemon is whole, and the right answer still gets in.
  AdminClient good(admin_port_);
  ASSERT_TRUE(good.ok());
  Bytes p;
  ASSERT_TRUE(good.Send(8, {}));
  EXPECT_TRUE(good.Expect(1, 8, p));
  const std::string log = TakeLog();
  EXPECT_EQ(Occurrences(log, "did not answer the password challenge"), 1u) << log;
}
