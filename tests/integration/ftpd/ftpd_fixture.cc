#include "ftpd_fixture.h"


#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <fstream>
#include <random>
#include <sstream>

#include "core/log.h"
#include "ftpctl/admin_auth.h"
#include "core/settings.h"
#include "ftpd/stored_settings.h"
#include "platform/paths.h"

namespace fs = std::filesystem;
using quarno::ftpd::Bytes;

void CaptureLog(const std::string& folder) {
  fs::create_directories(folder);
  quarno::SetLogFolder(folder);
  quarno::ResetLogForTesting();
}

std::string TakeLog() {
  std::string log = ReadFile(quarno::LogFilePath());
  quarno::SetLogFolder("");
  quarno::ResetLogForTesting();
  return log;
}

size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

RunResult RunShell(const std::string& command) {
  RunResult r;
  std::string full = "timeout 30 sh -c '" + [&] {
    std::string q;
    for (char c : command) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q;
  }() + "' 2>&1";
  FILE* p = popen(full.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (auto& c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

// ---- admin client ----

AdminClient::AdminClient(int port, bool answer) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd_);
    fd_ = -1;
    return;
  }
  std::string g;
  uint8_t type, id;
  Bytes payload;
  bool ok = ReadExact(15, g, 3000) && Receive(type, id, payload) && type == 0 && id == 0;
  if (ok) challenge = payload;
  if (ok && answer) {
    auto nonce = quarno::ftpctl::ParseChallenge(payload.data(), payload.size());
    auto secret = quarno::ftpctl::ReadAdminSecret();
    ok = nonce && secret && Send(0, quarno::ftpctl::ChallengeAnswer(*secret, *nonce)) &&
         Receive(type, id, payload) && type == 1 && id == 0;
  }
  if (!ok) {
    close(fd_);
    fd_ = -1;
    return;
  }
  greeting.assign(g.begin(), g.end());
}

AdminClient::~AdminClient() {
  if (fd_ >= 0) close(fd_);
}

bool AdminClient::SendRaw(const Bytes& bytes) {
  return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool AdminClient::Send(uint8_t id, const Bytes& payload) {
  return SendRaw(quarno::ftpd::Frame(quarno::ftpd::AdminType::kCommand, id, payload));
}

bool AdminClient::ReadExact(size_t n, std::string& out, int timeout_ms) {
  out.clear();
  while (out.size() < n) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    char buf[4096];
    ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
    if (r <= 0) return false;
    out.append(buf, static_cast<size_t>(r));
  }
  return true;
}

bool AdminClient::Receive(uint8_t& type, uint8_t& id, Bytes& payload, int timeout_ms) {
  std::string head, body;
  if (!ReadExact(5, head, timeout_ms)) return false;
  uint32_t n = uint32_t(uint8_t(head[1])) | uint32_t(uint8_t(head[2])) << 8 | uint32_t(uint8_t(head[3])) << 16 |
               uint32_t(uint8_t(head[4])) << 24;
  if (!ReadExact(n, body, timeout_ms)) return false;
  type = uint8_t(head[0]) & 3;
  id = (uint8_t(head[0]) >> 2) & 31;
  payload.assign(body.begin(), body.end());
  return true;
}

bool AdminClient::Expect(uint8_t type, uint8_t id, Bytes& payload, int timeout_ms) {
  uint8_t t, i;
  while (Receive(t, i, payload, timeout_ms))
    if (t == type && i == id) return true;
  return false;
}

bool AdminClient::Closed(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char c;
  return recv(fd_, &c, 1, MSG_PEEK) == 0;
}

// ---- fixture ----

std::string FtpdTest::ConfigText(int ftp_port, const std::string& user, const std::string& password,
                                 const std::string& extra) const {
  auto perm = [](const std::string& dir, const char* digits) {
    static const char* kNames[] = {"FileRead", "FileWrite", "FileDelete", "FileAppend", "DirCreate",
                                   "DirDelete", "DirList", "DirSubdirs", "IsHome", "AutoCreate"};
    std::string out = "<Permission Dir=\"" + dir + "\">";
    for (int i = 0; i < 10; ++i) out += std::string("<Option Name=\"") + kNames[i] + "\">" + digits[i] + "</Option>";
    return out + "</Permission>";
  };
  return "<FileZillaServer><Users><User Name=\"" + user + "\"><Option Name=\"Pass\">" +
         quarno::ftpd::Md5Hex(password) +
         "</Option><Option Name=\"User Limit\">0</Option>\r\n<Option Name=\"Enabled\">1</Option><Permissions>" +
         perm(home_, "0000001110") + perm(home_ + "/DISK_E", "1111111100") +
         "</Permissions></User></Users><Settings><Item name=\"Serverports\" type=\"string\">" +
         std::to_string(ftp_port) +
         "</Item><Item name=\"Initial Welcome Message\" type=\"string\">Ralmek_FTPD &amp;&amp; Host-AB1222 "
         "12ABCD</Item><Item name=\"Admin port\" type=\"numeric\">" +
         std::to_string(admin_port_) +
         "</Item><Item name=\"Maximum user count\" type=\"numeric\">0</Item>"
         "<Item name=\"Timeout\" type=\"numeric\">300</Item>"
         "<Item name=\"No Transfer Timeout\" type=\"numeric\">0</Item>" +
         extra + "</Settings></FileZillaServer>";
}

void FtpdTest::SetUp() {
  xdg_ = std::make_unique<quarno::test::TempXdg>();
  home_ = quarno::platform::HomeFolder();
  share_ = xdg_->root() + "/shared";
  outside_ = xdg_->root() + "/outside";
  fs::create_directories(home_);
  fs::create_directories(share_);
  fs::create_directories(outside_);
  WriteFile(outside_ + "/secret.txt", "secret");
  fs::create_directory_symlink(share_, home_ + "/DISK_E");
  ftp_port_ = FreeLoopbackPort();
  admin_port_ = FreeLoopbackPort();
  WriteFile(xdg_->writable() + "/FileZilla Server.xml", ConfigText(ftp_port_, "ftp", "pw", ExtraSettings()));
  StartServer();
}

void FtpdTest::StartServer() {
  quarno::ftpd::ServerOptions o;
  o.config_path = xdg_->writable() + "/FileZilla Server.xml";
  o.listen_address = "127.0.0.1";
  quarno::platform::MakeDirs(quarno::platform::RuntimeFolder());
  o.control_socket = quarno::platform::RuntimeFolder() + "/Quarno_Server.ctl";
  o.home_folder = home_;
  o.http_port = [](std::string& port) { return quarno::ReadSetting(quarno::setting::kBootHttp, port); };
  // The daemon's tests name files in UTF-8 unless they store a charset.
  o.ftp_charset = []() -> std::optional<std::string> {
    return quarno::ftpd::StoredFtpCharset()().value_or("UTF-8");
  };
  o.router_mac = quarno::ftpd::StoredRouterMac();
  o.failed_login_delay = login_delay_;
  o.admin_from_own_process = true;  // the admin client runs in this process
  AdjustOptions(o);
  server_ = std::make_unique<quarno::ftpd::Server>(std::move(o));
  std::string why;
  ASSERT_TRUE(server_->Start(why)) << why;
  thread_ = std::thread([this] { server_->Run(); });
}

void FtpdTest::StopServer() {
  if (!server_) return;
  server_->Stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

void FtpdTest::TearDown() {
  StopServer();
  xdg_.reset();
}

RunResult FtpdTest::Python(const std::string& code) {
  std::string script = xdg_->root() + "/t.py";
  WriteFile(script,
            "import ftplib, os, socket, sys, time\n"
            "HOST='127.0.0.1'; PORT=" + std::to_string(ftp_port_) +
                "; SHARE='" + share_ + "'; HOME='" + home_ + "'; OUTSIDE='" + outside_ +
                "'\n"
                "def login(enc='utf-8', user='ftp', pw='pw'):\n"
                "    f = ftplib.FTP(encoding=enc, timeout=10)\n"
                "    f.connect(HOST, PORT)\n"
                "    f.login(user, pw)\n"
                "    return f\n"
                "def refused(fn, *a, code='5'):\n"
                "    try:\n"
                "        fn(*a)\n"
                "    except ftplib.all_errors as e:\n"
                "        assert str(e).startswith(code), str(e)\n"
                "        return str(e)\n"
                "    raise AssertionError('not refused: %r' % (a,))\n" +
                code);
  return RunShell("python3 " + script);
}

RunResult FtpdTest::Lftp(const std::string& commands) {
  return RunShell("lftp -c 'set net:max-retries 1; set net:timeout 10; set ftp:ssl-allow no; open -u ftp,pw -p " +
                  std::to_string(ftp_port_) + " 127.0.0.1; " + commands + "'");
}

std::string FtpdTest::FtpUrl(const std::string& path) const {
  return "ftp://ftp:pw@127.0.0.1:" + std::to_string(ftp_port_) + path;
}

std::string FtpdTest::Control(const std::string& line) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::string path = quarno::platform::RuntimeFolder() + "/Quarno_Server.ctl";
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return "no connection";
  }
  send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  std::string answer;
  char buf[256];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    answer.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}
