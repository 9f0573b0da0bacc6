#include "ftpd/session.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <random>

#include "core/log.h"
#include "core/settings.h"
#include "ftpd/listing.h"
#include "platform/codepage.h"

namespace quarno::ftpd {
namespace {

using asio::ip::tcp;

constexpr size_t kMaxQueuedLines = 64;
constexpr size_t kMaxPendingOutput = 1 << 20;
constexpr size_t kSendfileTurn = 8 << 20;  // bytes per loop turn before others get a go
constexpr size_t kIoBuffer = 256 << 10;
constexpr int kFailedLoginsBeforeClose = 3;
constexpr int kDataConnectSeconds = 30;

asio::ip::address Plain(const asio::ip::address& a) {
  if (a.is_v6() && a.to_v6().is_v4_mapped()) return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
  return a;
}

const char* PathErrorText(PathError e) {
  switch (e) {
    case PathError::kBadName: return "553 File name not allowed.";
    case PathError::kOutside: return "550 Permission denied.";
    case PathError::kNotFound: return "550 File or directory not found.";
    case PathError::kNone: break;
  }
  return "550 Permission denied.";
}

// Strips list options ("-la") that clients put before the path.
std::string ListPathArgument(const std::string& arg) {
  std::string rest = arg;
  while (rest.size() >= 2 && rest[0] == '-' && rest[1] != ' ') {
    size_t space = rest.find(' ');
    rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
  }
  return rest;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The folder holding a resolved entry, opened without following links, so
// a change made there is made where the check looked (see OpenResolved).
struct ParentDir {
  int fd = -1;
  std::string name;
  ParentDir() = default;
  ParentDir(const ParentDir&) = delete;
  ParentDir& operator=(const ParentDir&) = delete;
  ~ParentDir() {
    if (fd >= 0) ::close(fd);
  }
  bool Open(const std::string& entry) {
    size_t slash = entry.rfind('/');
    if (slash == std::string::npos || slash + 1 == entry.size()) return false;
    name = entry.substr(slash + 1);
    fd = OpenResolved(slash == 0 ? std::string("/") : entry.substr(0, slash), O_PATH | O_DIRECTORY, false);
    return fd >= 0;
  }
};

}  // namespace

FtpSession::FtpSession(Server& server, tcp::socket socket, uint32_t id)
    : server_(server), control_(std::move(socket)), id_(id), login_delay_(server.io()) {
  asio::error_code ec;
  // Clients send ABOR as urgent data; keep its last byte in the line.
  control_.set_option(asio::socket_base::out_of_band_inline(true), ec);
  auto remote = control_.remote_endpoint(ec);
  peer_ = Plain(remote.address());
  port_ = remote.port();
  address_ = peer_.to_string();
  local_ = Plain(control_.local_endpoint(ec).address());
  connected_at_ = static_cast<int64_t>(std::time(nullptr));
  started_at_ = last_command_ = last_transfer_ = Clock::now();
}

FtpSession::~FtpSession() {
  if (transfer_ && transfer_->fd >= 0) ::close(transfer_->fd);
}

void FtpSession::Start() {
  std::string charset;
  ReadSetting(setting::kFtpCharset, charset);
  utf8_ = charset != "EUC-KR";
  const SessionSettings& s = server_.settings();
  std::string welcome = s.hide_welcome || s.welcome.empty() ? std::string("Quarno FTP server ready.") : s.welcome;
  std::string text;
  for (char c : welcome)
    if (c != '\r') text += c;
  Reply(220, text);
  ReadMore();
}

// ---- control connection ----

void FtpSession::ReadMore() {
  if (closing_) return;
  control_.async_read_some(asio::buffer(read_buffer_),
                           [self = shared_from_this()](const asio::error_code& ec, size_t n) { self->OnRead(ec, n); });
}

void FtpSession::OnRead(const asio::error_code& ec, size_t n) {
  if (closing_) return;
  if (ec) {
    Close();
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    char c = read_buffer_[i];
    if (c != '\n') {
      if (line_.size() >= kMaxCommandLine) {
        Close("500 Command line too long.");
        return;
      }
      line_ += c;
      continue;
    }
    std::string line;
    line.swap(line_);
    if (busy_) {
      Command cmd;
      if (ParseCommandLine(line, cmd) == ParseResult::kOk) {
        if (cmd.verb == "ABOR" && transfer_) {
          DoAbor();
          continue;
        }
        if (cmd.verb == "QUIT") {
          Close("221 Goodbye.");
          return;
        }
        if (cmd.verb == "STAT" && cmd.arg.empty() && transfer_) {
          Reply(213, "Status: " + std::to_string(transfer_->bytes) + " bytes transferred.");
          continue;
        }
      }
    }
    if (pending_lines_.size() >= kMaxQueuedLines) {
      Close("421 Too many commands at once.");
      return;
    }
    pending_lines_.push_back(std::move(line));
  }
  ProcessLines();
  ReadMore();
}

void FtpSession::ProcessLines() {
  while (!busy_ && !closing_ && !pending_lines_.empty()) {
    std::string line = std::move(pending_lines_.front());
    pending_lines_.pop_front();
    Command cmd;
    switch (ParseCommandLine(line, cmd)) {
      case ParseResult::kOk:
        last_command_ = Clock::now();
        Execute(cmd);
        break;
      case ParseResult::kEmpty:
        break;
      case ParseResult::kNulByte:
        Reply(501, "Syntax error: NUL byte in command.");
        break;
      case ParseResult::kBadVerb:
        Reply(500, "Syntax error, command unrecognized.");
        break;
    }
  }
}

void FtpSession::Done() {
  busy_ = false;
  if (!closing_) asio::post(server_.io(), [self = shared_from_this()] { self->ProcessLines(); });
}

void FtpSession::Reply(int code, const std::string& text) {
  if (closing_) return;
  std::string out;
  size_t start = 0;
  while (true) {
    size_t nl = text.find('\n', start);
    std::string_view line(text.data() + start, (nl == std::string::npos ? text.size() : nl) - start);
    out += std::to_string(code);
    out += nl == std::string::npos ? ' ' : '-';
    out.append(line);
    out += "\r\n";
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  Send(std::move(out));
}

void FtpSession::Send(std::string bytes) {
  if (closed_) return;
  out_bytes_ += bytes.size();
  out_.push_back(std::move(bytes));
  if (out_bytes_ > kMaxPendingOutput) {
    Finalize();  // the client does not read its replies
    return;
  }
  if (!writing_) WriteNext();
}

void FtpSession::WriteNext() {
  if (closed_) return;
  if (out_.empty()) {
    writing_ = false;
    if (close_after_write_) Finalize();
    return;
  }
  writing_ = true;
  asio::async_write(control_, asio::buffer(out_.front()),
                    [self = shared_from_this()](const asio::error_code& ec, size_t) {
                      if (self->closed_) return;
                      self->out_bytes_ -= self->out_.front().size();
                      self->out_.pop_front();
                      if (ec) {
                        self->Finalize();
                        return;
                      }
                      self->WriteNext();
                    });
}

void FtpSession::Close(const std::string& reply) {
  if (closing_) return;
  DropTransfer();
  ResetDataChannel();
  login_delay_.cancel();
  if (!reply.empty() && !closed_) {
    Send(reply + "\r\n");
    closing_ = true;
    closing_since_ = Clock::now();
    close_after_write_ = true;
    if (!writing_) Finalize();
    return;
  }
  closing_ = true;
  Finalize();
}

void FtpSession::Finalize() {
  if (closed_) return;
  closed_ = closing_ = true;
  DropTransfer();
  ResetDataChannel();
  asio::error_code ec;
  control_.shutdown(tcp::socket::shutdown_both, ec);
  control_.close(ec);
  out_.clear();
  if (logged_in_) WriteLog("FTP %u: %s (%s) left", id_, user_.c_str(), address_.c_str());
  server_.OnSessionClosed(id_);
}

void FtpSession::CheckTimeouts(Clock::time_point now) {
  if (closed_) return;
  if (closing_) {
    if (now - closing_since_ > std::chrono::seconds(5)) Finalize();
    return;
  }
  const SessionSettings& s = server_.settings();
  auto secs = [now](Clock::time_point t) { return std::chrono::duration_cast<std::chrono::seconds>(now - t).count(); };
  if (!logged_in_) {
    int limit = s.login_timeout_s > 0 ? s.login_timeout_s : 60;
    if (secs(started_at_) >= limit) Close("421 Login time exceeded. Closing control connection.");
    return;
  }
  if (transfer_) {
    int stall = s.timeout_s > 0 ? s.timeout_s : 300;
    if (waiting_for_data_ && secs(data_wait_started_) >= std::min(stall, kDataConnectSeconds))
      FinishTransfer(425, "Can't open data connection.");
    else if (!waiting_for_data_ && secs(last_progress_) >= stall)
      FinishTransfer(426, "Data connection timed out; transfer aborted.");
    return;
  }
  if (s.timeout_s > 0 && secs(last_command_) >= s.timeout_s) {
    Close("421 Connection timed out.");
    return;
  }
  if (s.no_transfer_timeout_s > 0 && secs(last_transfer_) >= s.no_transfer_timeout_s)
    Close("421 No-transfer-time exceeded. Closing control connection.");
}

// ---- helpers ----

bool FtpSession::RequireLogin() {
  if (logged_in_) return true;
  Reply(530, "Please log in with USER and PASS first.");
  return false;
}

bool FtpSession::FromWire(const std::string& arg, std::string& utf8) {
  if (utf8_) {
    if (!platform::IsValidUtf8(arg)) {
      Reply(553, "File name not allowed: not valid UTF-8.");
      return false;
    }
    utf8 = arg;
    return true;
  }
  if (!platform::Cp949ToUtf8(arg, utf8)) {
    Reply(553, "File name not allowed: not valid EUC-KR.");
    return false;
  }
  return true;
}

std::string FtpSession::ToWire(const std::string& utf8) const {
  if (utf8_) return utf8;
  std::string out;
  if (platform::Utf8ToCp949(utf8, out)) return out;
  return utf8;
}

std::string FtpSession::Quote(const std::string& virtual_path) const {
  std::string out = "\"";
  for (char c : ToWire(virtual_path)) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void FtpSession::DropHiddenLinks(const std::string& virtual_dir, std::vector<DirItem>& items) const {
  // A link that leads out of its permitted directory cannot be used; listing
  // it would still tell the kind, size and age of what lies outside.
  std::erase_if(items, [&](const DirItem& item) {
    PathNode child;
    return item.is_link && tree_.Resolve(virtual_dir, item.name, child) != PathError::kNone;
  });
}

bool FtpSession::ResolveOrReply(const std::string& arg, PathNode& node) {
  std::string path;
  if (!FromWire(arg, path)) return false;
  PathError e = tree_.Resolve(cwd_, path, node);
  if (e != PathError::kNone) {
    std::string text = PathErrorText(e);
    Reply(std::stoi(text.substr(0, 3)), text.substr(4));
    return false;
  }
  return true;
}

// ---- commands ----

void FtpSession::Execute(const Command& cmd) {
  const std::string& v = cmd.verb;
  const std::string& a = cmd.arg;
  if (v == "USER") return DoUser(a);
  if (v == "PASS") return DoPass(a);
  if (v == "QUIT") return Close("221 Goodbye.");
  if (v == "NOOP") return Reply(200, "NOOP ok.");
  if (v == "SYST") return Reply(215, "UNIX Type: L8");
  if (v == "FEAT")
    return Reply(211,
                 "Features:\n MDTM\n REST STREAM\n SIZE\n MLST type*;size*;modify*;perm*;\n MLSD\n UTF8\n EPSV\n "
                 "EPRT\nEnd");
  if (v == "OPTS") return DoOpts(a);
  if (v == "HELP")
    return Reply(214,
                 "The following commands are recognized:\n USER PASS QUIT NOOP SYST FEAT OPTS HELP PWD CWD CDUP TYPE "
                 "MODE STRU\n PASV EPSV PORT EPRT LIST NLST MLSD MLST RETR STOR APPE REST DELE MKD RMD\n RNFR RNTO "
                 "SIZE MDTM ABOR STAT ALLO\nHelp ok.");
  if (v == "AUTH" || v == "PBSZ" || v == "PROT" || v == "CCC")
    return Reply(502, "TLS is not available on this server.");
  if (!RequireLogin()) return;
  if (v == "PWD" || v == "XPWD") return Reply(257, Quote(cwd_) + " is current directory.");
  if (v == "CWD" || v == "XCWD") return DoCwd(a);
  if (v == "CDUP" || v == "XCUP") return DoCwd("..");
  if (v == "TYPE") {
    std::string t = a;
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (t == "I" || t == "L 8" || t == "L8") {
      ascii_ = false;
      return Reply(200, "Type set to I");
    }
    if (t == "A" || t == "A N") {
      ascii_ = true;
      return Reply(200, "Type set to A");
    }
    return Reply(504, "Type not supported.");
  }
  if (v == "MODE") return (a == "S" || a == "s") ? Reply(200, "MODE set to S.") : Reply(504, "Only MODE S is supported.");
  if (v == "STRU") return (a == "F" || a == "f") ? Reply(200, "STRU set to F.") : Reply(504, "Only STRU F is supported.");
  if (v == "ALLO") return Reply(202, "No storage allocation necessary.");
  if (v == "EPSV") {
    if (a == "ALL" || a == "all") {
      epsv_all_ = true;
      return Reply(200, "EPSV ALL ok.");
    }
    if (!a.empty() && a != (local_.is_v4() ? "1" : "2"))
      return Reply(522, local_.is_v4() ? "Network protocol not supported, use (1)" : "Network protocol not supported, use (2)");
    return DoPasv(true);
  }
  // After EPSV ALL the client promised no other kind of data connection set-up.
  if (epsv_all_ && (v == "PASV" || v == "PORT" || v == "EPRT")) return Reply(503, "Only EPSV after EPSV ALL.");
  if (v == "PASV") return DoPasv(false);
  if (v == "PORT") return DoPort(a, false);
  if (v == "EPRT") return DoPort(a, true);
  if (v == "LIST") return DoList(a, Kind::kList);
  if (v == "NLST") return DoList(a, Kind::kNlst);
  if (v == "MLSD") return DoList(a, Kind::kMlsd);
  if (v == "MLST") return DoMlst(a);
  if (v == "RETR") return DoRetr(a);
  if (v == "STOR") return DoStor(a, false);
  if (v == "APPE") return DoStor(a, true);
  if (v == "REST") {
    if (a.empty() || a.size() > 19 || a.find_first_not_of("0123456789") != std::string::npos)
      return Reply(501, "Bad restart offset.");
    rest_ = std::stoull(a);
    return Reply(350, "Restarting at " + a);
  }
  if (v == "DELE") return DoDele(a);
  if (v == "MKD" || v == "XMKD") return DoMkd(a);
  if (v == "RMD" || v == "XRMD") return DoRmd(a);
  if (v == "RNFR") return DoRnfr(a);
  if (v == "RNTO") return DoRnto(a);
  if (v == "SIZE") return DoSize(a, false);
  if (v == "MDTM") return DoSize(a, true);
  if (v == "STAT") return DoStat(a);
  if (v == "ABOR") return DoAbor();
  Reply(500, "Syntax error, command unrecognized.");
}

void FtpSession::DoOpts(const std::string& arg) {
  std::string up = arg;
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (up == "UTF8 ON" || up == "UTF-8 ON") {
    utf8_ = true;
    return Reply(200, "UTF8 mode enabled.");
  }
  if (up == "UTF8 OFF" || up == "UTF-8 OFF") {
    std::string charset;
    ReadSetting(setting::kFtpCharset, charset);
    utf8_ = charset != "EUC-KR";
    return Reply(200, "UTF8 mode disabled.");
  }
  if (up.rfind("MLST", 0) == 0) return Reply(200, "MLST OPTS type;size;modify;perm;");
  Reply(501, "Option not understood.");
}

void FtpSession::DoUser(const std::string& arg) {
  if (logged_in_) return Reply(503, "Already logged in.");
  if (arg.empty()) return Reply(501, "Syntax error.");
  std::string name;
  if (!FromWire(arg, name)) return;
  user_ = name;
  Reply(331, "Password required for " + ToWire(user_));
}

void FtpSession::DoPass(const std::string& arg) {
  if (logged_in_) return Reply(503, "Already logged in.");
  if (user_.empty()) return Reply(503, "Login with USER first.");
  if (!server_.AcceptsLogins()) return Close("421 Server is offline.");
  auto account = server_.FindAccount(user_);
  bool ok = false;
  if (account && account->enabled == 1) {
    ok = PasswordMatches(*account, arg);
    std::string converted;
    if (!ok && !utf8_ && platform::Cp949ToUtf8(arg, converted)) ok = PasswordMatches(*account, converted);
  }
  std::string why;
  if (ok && !tree_.Init(*account, &why)) {
    WriteLog("FTP %u: %s cannot log in: %s", id_, user_.c_str(), why.c_str());
    ok = false;
  }
  if (ok && account->user_limit > 0 && static_cast<int64_t>(server_.LoggedInCount(account->user_name)) >=
                                            static_cast<int64_t>(account->user_limit))
    return Close("421 Too many users logged in for this account. Try again later.");
  if (!ok) {
    ++failed_logins_;
    WriteLog("FTP %u: failed login of \"%s\" from %s", id_, user_.c_str(), address_.c_str());
    user_.clear();
    busy_ = true;  // the delay holds back this client only
    login_delay_.expires_after(server_.options().failed_login_delay);
    login_delay_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (ec || self->closing_) return;
      if (self->failed_logins_ >= kFailedLoginsBeforeClose)
        return self->Close("530 Login or password incorrect!");
      self->Reply(530, "Login or password incorrect!");
      self->Done();
    });
    return;
  }
  account_ = account;
  user_ = account->user_name;
  logged_in_ = true;
  cwd_ = "/";
  last_transfer_ = Clock::now();
  WriteLog("FTP %u: %s logged in from %s", id_, user_.c_str(), address_.c_str());
  Reply(230, "Logged on");
  server_.OnLoggedIn(*this);
}

void FtpSession::DoCwd(const std::string& arg) {
  PathNode node;
  if (!ResolveOrReply(arg.empty() ? "/" : arg, node)) return;
  if (!node.exists || !node.is_dir) return Reply(550, "Directory not found.");
  if (!(node.rights & kDirList)) return Reply(550, "Permission denied.");
  cwd_ = node.virtual_path;
  Reply(250, "CWD successful. " + Quote(cwd_) + " is current directory.");
}

// The entries a listing shows for `node` (a folder's contents, or the file
// itself) and the rights that govern them; replies and returns false when
// the listing may not or cannot be made.
bool FtpSession::CollectListing(const PathNode& node, std::vector<DirItem>& items,
                                uint16_t& rights) {
  rights = node.is_dir ? node.rights : node.parent_rights;
  if (!(rights & kDirList)) {
    Reply(550, "Permission denied.");
    return false;
  }
  if (node.is_dir) {
    if (!ReadDirectory(node.real, items)) {
      Reply(550, "Directory cannot be read.");
      return false;
    }
    DropHiddenLinks(node.virtual_path, items);
    return true;
  }
  DirItem item;
  if (!StatItem(node.real, item)) {
    Reply(550, "File not found.");
    return false;
  }
  item.name = node.Name();
  items.push_back(item);
  return true;
}

void FtpSession::DoStat(const std::string& arg) {
  if (arg.empty()) {
    return Reply(211, "FTP server status:\n Connected to " + address_ + "\n Logged in as " + ToWire(user_) +
                          "\n TYPE: " + (ascii_ ? "ASCII" : "BINARY") + "\nEnd of status");
  }
  PathNode node;
  if (!ResolveOrReply(ListPathArgument(arg), node)) return;
  if (!node.exists) return Reply(550, "File or directory not found.");
  std::vector<DirItem> items;
  uint16_t rights = 0;
  if (!CollectListing(node, items, rights)) return;
  int64_t now = std::time(nullptr);
  std::string text = "Status follows:\n";
  for (const auto& item : items) text += " " + ListPrefix(item, now) + ToWire(item.name) + "\n";
  Reply(213, text + "End of status");
}

// ---- data channel ----

void FtpSession::ResetDataChannel() {
  asio::error_code ec;
  if (passive_) passive_->close(ec);
  passive_.reset();
  if (data_) data_->close(ec);
  data_.reset();
  active_.reset();
  data_connecting_ = false;
}

void FtpSession::DoPasv(bool extended) {
  if (transfer_) return Reply(503, "A transfer is in progress.");
  ResetDataChannel();
  if (!extended && !local_.is_v4()) return Reply(500, "PASV needs IPv4; use EPSV.");
  const SessionSettings& s = server_.settings();
  auto acceptor = std::make_unique<tcp::acceptor>(server_.io());
  asio::error_code ec;
  tcp::endpoint ep(local_, 0);
  acceptor->open(ep.protocol(), ec);
  if (!ec && s.pasv_min > 0 && s.pasv_max >= s.pasv_min) {
    unsigned span = s.pasv_max - s.pasv_min + 1u;
    unsigned start = std::random_device{}() % span;
    for (unsigned i = 0; i < span; ++i) {
      ep.port(static_cast<uint16_t>(s.pasv_min + (start + i) % span));
      acceptor->bind(ep, ec);
      if (!ec) break;
    }
  } else if (!ec) {
    acceptor->bind(ep, ec);
  }
  if (!ec) acceptor->listen(1, ec);
  if (ec) return Reply(425, "Can't open data connection: no free port.");
  uint16_t port = acceptor->local_endpoint(ec).port();
  passive_ = std::move(acceptor);
  stranger_logged_ = false;
  AcceptPassive();
  if (extended) return Reply(229, "Entering Extended Passive Mode (|||" + std::to_string(port) + "|)");
  asio::ip::address_v4 shown = local_.to_v4();
  if (!s.pasv_address.empty()) {
    auto custom = asio::ip::make_address_v4(s.pasv_address, ec);
    if (!ec) shown = custom;
  }
  auto b = shown.to_bytes();
  Reply(227, "Entering Passive Mode (" + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," +
                 std::to_string(b[2]) + "," + std::to_string(b[3]) + "," + std::to_string(port >> 8) + "," +
                 std::to_string(port & 255) + ")");
}

void FtpSession::AcceptPassive() {
  if (!passive_) return;
  passive_->async_accept([self = shared_from_this(), acceptor = passive_.get()](const asio::error_code& ec,
                                                                                tcp::socket socket) {
    if (ec || self->closing_ || self->passive_.get() != acceptor) return;
    asio::error_code rec;
    auto remote = socket.remote_endpoint(rec);
    if (rec || Plain(remote.address()) != self->peer_) {
      // Only the client itself may connect; anyone else is turned away. Once
      // in the log per listener: strangers may knock as often as they like.
      if (!self->stranger_logged_)
        WriteLog("FTP %u: refused data connection from %s", self->id_, rec ? "?" : remote.address().to_string().c_str());
      self->stranger_logged_ = true;
      socket.close(rec);
      self->AcceptPassive();
      return;
    }
    self->data_.emplace(std::move(socket));
    self->passive_->close(rec);
    if (self->transfer_ && self->waiting_for_data_) self->ConnectionReady();
  });
}

void FtpSession::DoPort(const std::string& arg, bool extended) {
  if (transfer_) return Reply(503, "A transfer is in progress.");
  asio::ip::address addr;
  uint16_t port = 0;
  if (extended) {
    int family = 0;
    std::string text;
    asio::error_code ec;
    if (!ParseEprtArgument(arg, family, text, port)) return Reply(501, "Syntax error in EPRT.");
    addr = asio::ip::make_address(text, ec);
    if (ec || (family == 1) != addr.is_v4()) return Reply(501, "Syntax error in EPRT.");
    if (family != 1 && family != 2) return Reply(522, "Network protocol not supported, use (1,2)");
  } else {
    std::array<uint8_t, 4> ip{};
    if (!ParsePortArgument(arg, ip, port)) return Reply(501, "Syntax error in PORT.");
    addr = asio::ip::address_v4(ip);
  }
  if (Plain(addr) != peer_ || port < 1024)
    return Reply(504, "Rejected: the data address must be your own, on a port above 1023.");
  ResetDataChannel();
  active_ = tcp::endpoint(Plain(addr), port);
  Reply(200, extended ? "EPRT command successful." : "PORT command successful.");
}

void FtpSession::BeginTransfer(Transfer t) {
  if (!passive_ && !data_ && !active_) {
    if (t.fd >= 0) ::close(t.fd);
    return Reply(425, "Use PORT or PASV first.");
  }
  t.generation = ++generation_;
  transfer_ = std::move(t);
  busy_ = true;
  waiting_for_data_ = true;
  data_wait_started_ = Clock::now();
  if (data_) return ConnectionReady();
  if (active_ && !data_connecting_) {
    data_connecting_ = true;
    data_.emplace(server_.io());
    asio::error_code ec;
    data_->open(active_->protocol(), ec);
    if (!ec) data_->bind(tcp::endpoint(local_.is_v4() == active_->address().is_v4() ? local_ : asio::ip::address(), 0), ec);
    if (ec) return FinishTransfer(425, "Can't open data connection.");
    uint64_t gen = transfer_->generation;
    data_->async_connect(*active_, [self = shared_from_this(), gen](const asio::error_code& cec) {
      if (!self->Current(gen)) return;
      self->data_connecting_ = false;
      if (cec) return self->FinishTransfer(425, "Can't open data connection.");
      self->ConnectionReady();
    });
  }
}

void FtpSession::ConnectionReady() {
  if (!transfer_ || !waiting_for_data_) return;
  waiting_for_data_ = false;
  Transfer& t = *transfer_;
  if (t.kind == Kind::kStor) {
    // Opened only now, so a failed data connection never truncates a file.
    int flags = O_WRONLY | O_CREAT;
    if (t.append) flags |= O_APPEND;
    if (t.truncate) flags |= O_TRUNC;
    t.fd = OpenResolved(t.real, flags, true);
    struct stat st {};
    if (t.fd < 0 || ::fstat(t.fd, &st) != 0) return FinishTransfer(553, "Cannot create file.");
    if (!t.append && !t.truncate) {
      if (static_cast<uint64_t>(st.st_size) < t.offset) return FinishTransfer(550, "Restart offset beyond file size.");
      // Resuming below the end rewrites what follows; append rights only extend.
      if (static_cast<uint64_t>(st.st_size) > t.offset && !t.may_rewrite)
        return FinishTransfer(550, "Permission denied: the file may only be appended to.");
      if (::ftruncate(t.fd, static_cast<off_t>(t.offset)) != 0 ||
          ::lseek(t.fd, static_cast<off_t>(t.offset), SEEK_SET) < 0)
        return FinishTransfer(451, "Cannot resume the file.");
    }
    t.buffer.resize(kIoBuffer);
  }
  const char* what = t.kind == Kind::kRetr   ? "Opening data channel for file download from server of "
                     : t.kind == Kind::kStor ? "Opening data channel for file upload to server of "
                                             : "Opening data channel for directory listing of ";
  Reply(150, what + Quote(t.display));
  t.started = true;
  last_progress_ = Clock::now();
  RunTransfer();
}

void FtpSession::RunTransfer() {
  Transfer& t = *transfer_;
  uint64_t gen = t.generation;
  switch (t.kind) {
    case Kind::kList:
    case Kind::kNlst:
    case Kind::kMlsd:
      asio::async_write(*data_, asio::buffer(t.listing), [self = shared_from_this(), gen](const asio::error_code& ec, size_t) {
        if (!self->Current(gen)) return;
        if (ec) return self->FinishTransfer(426, "Connection closed; transfer aborted.");
        self->FinishTransfer(226, "Successfully transferred " + self->Quote(self->transfer_->display));
      });
      return;
    case Kind::kRetr:
      if (t.ascii) {
        t.buffer.resize(64 << 10);
        return SendAsciiChunk(gen);
      }
      return SendFileChunk(gen);
    case Kind::kStor:
      return ReceiveChunk(gen);
  }
}

void FtpSession::SendFileChunk(uint64_t gen) {
  if (!Current(gen)) return;
  Transfer& t = *transfer_;
  asio::error_code ec;
  data_->native_non_blocking(true, ec);
  int out = data_->native_handle();
  size_t budget = kSendfileTurn;
  while (budget > 0) {
    off_t off = static_cast<off_t>(t.offset);
    ssize_t n = ::sendfile(out, t.fd, &off, std::min<size_t>(budget, 1 << 20));
    if (n > 0) {
      t.offset = static_cast<uint64_t>(off);
      t.bytes += static_cast<uint64_t>(n);
      budget -= static_cast<size_t>(n);
      last_progress_ = Clock::now();
      continue;
    }
    if (n == 0) return FinishTransfer(226, "Successfully transferred " + Quote(t.display));
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      data_->async_wait(tcp::socket::wait_write, [self = shared_from_this(), gen](const asio::error_code& wec) {
        if (!self->Current(gen)) return;
        if (wec) return self->FinishTransfer(426, "Connection closed; transfer aborted.");
        self->SendFileChunk(gen);
      });
      return;
    }
    return FinishTransfer(426, "Connection closed; transfer aborted.");
  }
  asio::post(server_.io(), [self = shared_from_this(), gen] { self->SendFileChunk(gen); });
}

void FtpSession::SendAsciiChunk(uint64_t gen) {
  if (!Current(gen)) return;
  Transfer& t = *transfer_;
  ssize_t n = ::pread(t.fd, t.buffer.data(), t.buffer.size(), static_cast<off_t>(t.offset));
  if (n < 0) return FinishTransfer(451, "Error reading the file.");
  if (n == 0) return FinishTransfer(226, "Successfully transferred " + Quote(t.display));
  t.offset += static_cast<uint64_t>(n);
  t.out.clear();
  for (ssize_t i = 0; i < n; ++i) {
    char c = t.buffer[static_cast<size_t>(i)];
    if (c == '\n' && !t.pending_cr) t.out += '\r';
    t.out += c;
    t.pending_cr = c == '\r';
  }
  asio::async_write(*data_, asio::buffer(t.out), [self = shared_from_this(), gen](const asio::error_code& ec, size_t w) {
    if (!self->Current(gen)) return;
    if (ec) return self->FinishTransfer(426, "Connection closed; transfer aborted.");
    self->transfer_->bytes += w;
    self->last_progress_ = Clock::now();
    self->SendAsciiChunk(gen);
  });
}

void FtpSession::ReceiveChunk(uint64_t gen) {
  if (!Current(gen)) return;
  Transfer& t = *transfer_;
  data_->async_read_some(asio::buffer(t.buffer), [self = shared_from_this(), gen](const asio::error_code& ec, size_t n) {
    if (!self->Current(gen)) return;
    Transfer& tr = *self->transfer_;
    if (n > 0) {
      bool ok;
      if (tr.ascii) {
        tr.out.clear();
        for (size_t i = 0; i < n; ++i) {
          char c = tr.buffer[i];
          if (tr.pending_cr && c != '\n') tr.out += '\r';
          tr.pending_cr = c == '\r';
          if (!tr.pending_cr) tr.out += c;
        }
        ok = WriteAll(tr.fd, tr.out.data(), tr.out.size());
      } else {
        ok = WriteAll(tr.fd, tr.buffer.data(), n);
      }
      if (!ok) return self->FinishTransfer(452, "Error writing the file: disk full or write error.");
      tr.bytes += n;
      self->last_progress_ = Clock::now();
    }
    if (ec == asio::error::eof) {
      if (tr.pending_cr && !WriteAll(tr.fd, "\r", 1))
        return self->FinishTransfer(452, "Error writing the file.");
      return self->FinishTransfer(226, "Successfully transferred " + self->Quote(tr.display));
    }
    if (ec) return self->FinishTransfer(426, "Connection closed; transfer aborted.");
    self->ReceiveChunk(gen);
  });
}

void FtpSession::DropTransfer() {
  if (!transfer_) return;
  if (transfer_->fd >= 0) ::close(transfer_->fd);
  transfer_.reset();
  waiting_for_data_ = false;
  asio::error_code ec;
  if (data_) data_->close(ec);
  data_.reset();
}

void FtpSession::FinishTransfer(int code, const std::string& text) {
  bool was_stor = transfer_ && transfer_->kind == Kind::kStor;
  DropTransfer();
  ResetDataChannel();
  last_transfer_ = Clock::now();
  if (was_stor && code != 226) WriteLog("FTP %u: upload ended early (%d); the partial file stays", id_, code);
  Reply(code, text);
  server_.OnTransferEnded(*this);
  Done();
}

void FtpSession::DoAbor() {
  if (!transfer_) {
    ResetDataChannel();
    return Reply(226, "ABOR command successful.");
  }
  DropTransfer();
  ResetDataChannel();
  last_transfer_ = Clock::now();
  Reply(426, "Connection closed; transfer aborted.");
  Reply(226, "ABOR command successful.");
  server_.OnTransferEnded(*this);
  Done();
}

// ---- file commands ----

void FtpSession::DoList(const std::string& arg, Kind kind) {
  PathNode node;
  if (!ResolveOrReply(ListPathArgument(arg), node)) {
    rest_ = 0;
    return;
  }
  rest_ = 0;
  if (!node.exists) return Reply(550, "Directory not found.");
  if (!node.is_dir && kind == Kind::kMlsd) return Reply(501, "Not a directory.");
  std::vector<DirItem> items;
  uint16_t rights = 0;
  if (!CollectListing(node, items, rights)) return;
  Transfer t;
  t.kind = kind;
  t.display = node.virtual_path;
  int64_t now = std::time(nullptr);
  for (const auto& item : items) {
    if (kind == Kind::kList) t.listing += ListPrefix(item, now);
    if (kind == Kind::kMlsd) {
      // A folder's own entry (a share link, say) decides what may be done in it.
      uint16_t item_rights = rights;
      if (item.is_dir && node.is_dir)
        item_rights = tree_.DirRights((node.virtual_path == "/" ? tree_.home() : tree_.home() + node.virtual_path) +
                                      "/" + item.name);
      t.listing += MlsxFacts(item, item_rights);
    }
    t.listing += ToWire(item.name);
    t.listing += "\r\n";
  }
  BeginTransfer(std::move(t));
}

void FtpSession::DoMlst(const std::string& arg) {
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  if (!node.exists) return Reply(550, "File or directory not found.");
  uint16_t rights = node.is_dir ? node.rights : node.parent_rights;
  if (!(rights & kDirList) && !(node.parent_rights & kDirList)) return Reply(550, "Permission denied.");
  DirItem item;
  if (!StatItem(node.real, item)) return Reply(550, "File not found.");
  Reply(250, "Listing " + ToWire(node.virtual_path) + "\n " + MlsxFacts(item, rights) + ToWire(node.virtual_path) +
                 "\nEnd");
}

void FtpSession::DoRetr(const std::string& arg) {
  uint64_t offset = rest_;
  rest_ = 0;
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  if (!node.exists || node.is_dir) return Reply(550, "File not found.");
  if (!(node.parent_rights & kFileRead)) return Reply(550, "Permission denied.");
  int fd = OpenResolved(node.real, O_RDONLY, true);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    return Reply(550, "File cannot be opened.");
  }
  if (offset > static_cast<uint64_t>(st.st_size)) {
    ::close(fd);
    return Reply(550, "Restart offset beyond file size.");
  }
  Transfer t;
  t.kind = Kind::kRetr;
  t.display = node.virtual_path;
  t.fd = fd;
  t.offset = offset;
  t.ascii = ascii_;
  BeginTransfer(std::move(t));
}

void FtpSession::DoStor(const std::string& arg, bool append) {
  uint64_t offset = rest_;
  rest_ = 0;
  if (arg.empty()) return Reply(501, "Syntax error.");
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  if (node.is_dir || node.is_permission_root) return Reply(550, "Permission denied.");
  uint16_t need = (append || offset > 0) ? kFileAppend : kFileWrite;
  if (!(node.parent_rights & need)) return Reply(550, "Permission denied.");
  if (offset > 0 && !node.exists) return Reply(550, "File not found; nothing to resume.");
  Transfer t;
  t.kind = Kind::kStor;
  t.display = node.virtual_path;
  t.real = node.real;
  t.offset = offset;
  t.append = append;
  t.truncate = !append && offset == 0;
  t.may_rewrite = (node.parent_rights & kFileWrite) != 0;
  t.ascii = ascii_;
  BeginTransfer(std::move(t));
}

void FtpSession::DoDele(const std::string& arg) {
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  struct stat st {};
  if (::lstat(node.entry.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return Reply(550, "File not found.");
  if (!(node.parent_rights & kFileDelete) || node.is_permission_root) return Reply(550, "Permission denied.");
  ParentDir dir;
  if (!dir.Open(node.entry) || ::unlinkat(dir.fd, dir.name.c_str(), 0) != 0)
    return Reply(550, std::string("Delete failed: ") + std::strerror(errno));
  Reply(250, "File deleted successfully.");
}

void FtpSession::DoMkd(const std::string& arg) {
  if (arg.empty()) return Reply(501, "Syntax error.");
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  struct stat st {};
  if (::lstat(node.entry.c_str(), &st) == 0) return Reply(550, "Directory already exists.");
  if (!(node.parent_rights & kDirCreate)) return Reply(550, "Permission denied.");
  ParentDir dir;
  if (!dir.Open(node.entry) || ::mkdirat(dir.fd, dir.name.c_str(), 0755) != 0)
    return Reply(550, std::string("Cannot create directory: ") + std::strerror(errno));
  Reply(257, Quote(node.virtual_path) + " created successfully.");
}

void FtpSession::DoRmd(const std::string& arg) {
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  struct stat st {};
  if (::lstat(node.entry.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Reply(550, "Directory not found.");
  if (!(node.parent_rights & kDirDelete) || node.is_permission_root) return Reply(550, "Permission denied.");
  if (node.virtual_path == cwd_ || cwd_.rfind(node.virtual_path + "/", 0) == 0)
    return Reply(550, "Cannot remove the current directory.");
  ParentDir dir;
  if (!dir.Open(node.entry) || ::unlinkat(dir.fd, dir.name.c_str(), AT_REMOVEDIR) != 0)
    return Reply(550, std::string("Cannot remove directory: ") + std::strerror(errno));
  Reply(250, "Directory deleted successfully.");
}

void FtpSession::DoRnfr(const std::string& arg) {
  rename_from_.reset();
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  struct stat st {};
  if (::lstat(node.entry.c_str(), &st) != 0) return Reply(550, "File or directory not found.");
  node.is_dir = S_ISDIR(st.st_mode);
  if (node.is_permission_root || !(node.parent_rights & (node.is_dir ? kDirDelete : kFileDelete)))
    return Reply(550, "Permission denied.");
  rename_from_ = node;
  Reply(350, "File exists, ready for destination name.");
}

void FtpSession::DoRnto(const std::string& arg) {
  if (!rename_from_) return Reply(503, "Use RNFR first.");
  std::string from_path = rename_from_->virtual_path;
  rename_from_.reset();
  if (arg.empty()) return Reply(501, "Syntax error.");
  // Other sessions may have renamed folders since RNFR: the source is
  // checked again, where it is now.
  PathNode from;
  if (PathError e = tree_.Resolve("/", from_path, from); e != PathError::kNone) {
    std::string text = PathErrorText(e);
    return Reply(std::stoi(text.substr(0, 3)), text.substr(4));
  }
  struct stat st {};
  if (::lstat(from.entry.c_str(), &st) != 0) return Reply(550, "File or directory not found.");
  from.is_dir = S_ISDIR(st.st_mode);
  if (from.is_permission_root || !(from.parent_rights & (from.is_dir ? kDirDelete : kFileDelete)))
    return Reply(550, "Permission denied.");
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  if (::lstat(node.entry.c_str(), &st) == 0) return Reply(553, "Target already exists.");
  if (node.is_permission_root || !(node.parent_rights & (from.is_dir ? kDirCreate : kFileWrite)))
    return Reply(550, "Permission denied.");
  ParentDir from_dir, to_dir;
  if (!from_dir.Open(from.entry) || !to_dir.Open(node.entry) ||
      ::renameat(from_dir.fd, from_dir.name.c_str(), to_dir.fd, to_dir.name.c_str()) != 0)
    return Reply(550, std::string("Rename failed: ") + std::strerror(errno));
  Reply(250, "File renamed successfully.");
}

void FtpSession::DoSize(const std::string& arg, bool mdtm) {
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  if (!node.exists) return Reply(550, "File not found.");
  if (!(node.parent_rights & (kFileRead | kDirList))) return Reply(550, "Permission denied.");
  DirItem item;
  if (!StatItem(node.real, item)) return Reply(550, "File not found.");
  if (mdtm) return Reply(213, TimeVal(item.mtime));
  if (item.is_dir) return Reply(550, "Not a regular file.");
  Reply(213, std::to_string(item.size));
}

}  // namespace quarno::ftpd
