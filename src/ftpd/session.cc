#include "ftpd/session.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "core/log.h"
#include "ftpd/doors.h"
#include "ftpd/listing.h"
#include "platform/codepage.h"

namespace quarno::ftpd {
namespace {

using asio::ip::tcp;

constexpr size_t kMaxQueuedLines = 64;
constexpr size_t kMaxPendingOutput = 1 << 20;
constexpr int kFailedLoginsBeforeClose = 3;
// Checks after failures wait their turn up to this long; beyond, refused.
constexpr std::chrono::milliseconds kLongestPacedWait{5000};
// Entries examined per step of a listing: a step stays well under a
// millisecond, so a folder of 100k entries never holds up other sessions.
constexpr int kListingBatch = 64;
constexpr int kListingStepsPerTurn = 4;

asio::ip::address Plain(const asio::ip::address& a) { return PlainAddress(a); }

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?[") != std::string_view::npos;
}

// "20240102030405" (a fraction after a dot is ignored) in UTC; false when
// it is not such a time.
bool ParseTimeVal(std::string_view text, int64_t& out) {
  if (size_t dot = text.find('.'); dot != std::string_view::npos) {
    std::string_view fraction = text.substr(dot + 1);
    if (fraction.empty() || fraction.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    text = text.substr(0, dot);
  }
  if (text.size() != 14 || text.find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  auto num = [&](size_t pos, size_t len) { return std::stoi(std::string(text.substr(pos, len))); };
  struct tm tm {};
  tm.tm_year = num(0, 4) - 1900;
  tm.tm_mon = num(4, 2) - 1;
  tm.tm_mday = num(6, 2);
  tm.tm_hour = num(8, 2);
  tm.tm_min = num(10, 2);
  tm.tm_sec = num(12, 2);
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 60)
    return false;
  out = static_cast<int64_t>(::timegm(&tm));
  return true;
}

const char* PathErrorText(PathError e) {
  switch (e) {
    case PathError::kBadName:
      return "553 File name not allowed.";
    case PathError::kOutside:
      return "550 Permission denied.";
    case PathError::kNotFound:
      return "550 File or directory not found.";
    case PathError::kNone:
      break;
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
    fd = OpenResolved(slash == 0 ? std::string("/") : entry.substr(0, slash), O_PATH | O_DIRECTORY,
                      false);
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

FtpSession::~FtpSession() = default;

void FtpSession::Start() {
  data_ = std::make_shared<DataChannel>(server_.io(), weak_from_this(), peer_, local_, id_);
  lan_peer_ = server_.IsLanPeer(peer_, local_);
  utf8_ = server_.NamesInUtf8();
  const SessionSettings& s = server_.settings();
  std::string welcome =
      s.hide_welcome || s.welcome.empty() ? std::string("Quarno FTP server ready.") : s.welcome;
  std::string text;
  for (char c : welcome)
    if (c != '\r') text += c;
  Reply(220, text);
  ReadMore();
}

// ---- control connection ----

void FtpSession::ReadMore() {
  if (closing_ || tls_.starting) return;
  tls_.reading = true;
  auto done = [self = shared_from_this()](const asio::error_code& ec, size_t n) {
    self->OnRead(ec, n);
  };
  if (tls_.stream)
    tls_.stream->async_read_some(asio::buffer(read_buffer_), std::move(done));
  else
    control_.async_read_some(asio::buffer(read_buffer_), std::move(done));
}

void FtpSession::OnRead(const asio::error_code& ec, size_t n) {
  tls_.reading = false;
  if (closing_) return;
  if (tls_.starting) return OnReadWhileStartingTls(ec, n);
  if (ec) {
    Close();
    return;
  }
  prelogin_.Touch();
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
        if (cmd.verb == "ABOR" && transferring()) {
          DoAbor();
          continue;
        }
        if (cmd.verb == "QUIT") {
          Close("221 Goodbye.");
          return;
        }
        if (cmd.verb == "STAT" && cmd.arg.empty() && transferring()) {
          Reply(213, "Status: " + std::to_string(data_->bytes()) + " bytes transferred.");
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
    std::string_view line(text.data() + start,
                          (nl == std::string::npos ? text.size() : nl) - start);
    // Inner lines that start with a blank go out as they are (feature
    // lines, facts, listings); the first and the last carry the code.
    if (start == 0 || nl == std::string::npos || line.empty() || line[0] != ' ') {
      out += std::to_string(code);
      out += nl == std::string::npos ? ' ' : '-';
    }
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
  if (out_.empty() && status_source_) {
    // A STAT listing goes out a part at a time, each once the last has left.
    std::string part;
    bool more = true;
    for (int step = 0; step < kListingStepsPerTurn && more && part.size() < 16384; ++step)
      more = status_source_(part);
    if (!more) {
      status_source_ = nullptr;
      part += "213 End of status\r\n";
      Done();
    }
    if (part.empty()) {
      writing_ = true;
      asio::post(server_.io(), [self = shared_from_this()] { self->WriteNext(); });
      return;
    }
    out_bytes_ += part.size();
    out_.push_back(std::move(part));
  }
  if (out_.empty()) {
    writing_ = false;
    if (close_after_write_)
      Finalize();
    else
      MaybeStartTls();
    return;
  }
  writing_ = true;
  auto written = [self = shared_from_this()](const asio::error_code& ec, size_t) {
    if (self->closed_) return;
    self->out_bytes_ -= self->out_.front().size();
    self->out_.pop_front();
    if (ec) {
      self->Finalize();
      return;
    }
    self->WriteNext();
  };
  if (tls_.stream)
    asio::async_write(*tls_.stream, asio::buffer(out_.front()), std::move(written));
  else
    asio::async_write(control_, asio::buffer(out_.front()), std::move(written));
}

void FtpSession::Close(const std::string& reply) {
  if (closing_) return;
  if (data_) data_->Reset();
  status_source_ = nullptr;
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
  if (data_) data_->Reset();
  status_source_ = nullptr;
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
  auto secs = [now](Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(now - t).count();
  };
  if (!logged_in_) {
    int limit = s.login_timeout_s > 0 ? s.login_timeout_s : 60;
    if (secs(started_at_) >= limit) Close("421 Login time exceeded. Closing control connection.");
    return;
  }
  const bool was_transferring = transferring();
  if (data_) data_->CheckTimeouts(now, s.timeout_s > 0 ? s.timeout_s : 300);
  if (was_transferring) return;
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

bool FtpSession::HiddenLink(const std::string& virtual_dir, const DirItem& item) const {
  // A link that leads out of its permitted directory cannot be used; listing
  // it would still tell the kind, size and age of what lies outside.
  PathNode child;
  return item.is_link && tree_.Resolve(virtual_dir, item.name, child) != PathError::kNone;
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
    return Reply(
        211,
        "Features:\n" +
            std::string(server_.tls().policy().available ? " AUTH TLS\n PBSZ\n PROT\n" : "") +
            " MDTM\n MFMT\n REST STREAM\n SIZE\n MLST type*;size*;modify*;perm*;\n MLSD\n "
        "UTF8\n EPSV\n EPRT\nEnd");
  if (v == "OPTS") return DoOpts(a);
  if (v == "HELP")
    return Reply(214,
                 "The following commands are recognized:\n USER PASS QUIT NOOP SYST FEAT OPTS HELP "
                 "PWD CWD CDUP TYPE "
                 "MODE STRU\n PASV EPSV PORT EPRT LIST NLST MLSD MLST RETR STOR APPE REST DELE MKD "
                 "RMD\n RNFR RNTO "
                 "SIZE MDTM MFMT SITE ABOR STAT ALLO\nHelp ok.");
  if (IsTlsVerb(v)) return DoTls(cmd);
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
  if (v == "MODE")
    return (a == "S" || a == "s") ? Reply(200, "MODE set to S.")
                                  : Reply(504, "Only MODE S is supported.");
  if (v == "STRU")
    return (a == "F" || a == "f") ? Reply(200, "STRU set to F.")
                                  : Reply(504, "Only STRU F is supported.");
  if (v == "ALLO") return Reply(202, "No storage allocation necessary.");
  if (v == "EPSV") {
    if (a == "ALL" || a == "all") {
      epsv_all_ = true;
      return Reply(200, "EPSV ALL ok.");
    }
    if (!a.empty() && a != (local_.is_v4() ? "1" : "2"))
      return Reply(522, local_.is_v4() ? "Network protocol not supported, use (1)"
                                       : "Network protocol not supported, use (2)");
    return DoPasv(true);
  }
  // After EPSV ALL the client promised no other kind of data connection set-up.
  if (epsv_all_ && (v == "PASV" || v == "PORT" || v == "EPRT"))
    return Reply(503, "Only EPSV after EPSV ALL.");
  if (v == "PASV") return DoPasv(false);
  if (v == "PORT") return DoPort(a, false);
  if (v == "EPRT") return DoPort(a, true);
  if (v == "LIST") return DoList(a, ListStyle::kList);
  if (v == "NLST") return DoList(a, ListStyle::kNlst);
  if (v == "MLSD") return DoList(a, ListStyle::kMlsd);
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
  if (v == "MFMT") return DoMfmt(a);
  if (v == "SITE") return DoSite(a);
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
    utf8_ = server_.NamesInUtf8();
    return Reply(200, "UTF8 mode disabled.");
  }
  if (up.rfind("MLST", 0) == 0) return Reply(200, "MLST OPTS type;size;modify;perm;");
  Reply(501, "Option not understood.");
}

void FtpSession::DoUser(const std::string& arg) {
  if (logged_in_) return Reply(503, "Already logged in.");
  if (arg.empty()) return Reply(501, "Syntax error.");
  if (TlsRefusesLogin()) return;
  std::string name;
  if (!FromWire(arg, name)) return;
  user_ = name;
  Reply(331, "Password required for " + ToWire(user_));
}

void FtpSession::DoPass(const std::string& arg) {
  if (logged_in_) return Reply(503, "Already logged in.");
  if (user_.empty()) return Reply(503, "Login with USER first.");
  if (!server_.AcceptsLogins()) return Close("421 Server is offline.");
  Doors& doors = server_.doors();
  if (std::string ban = doors.BanReply(peer_); !ban.empty()) return Close(ban);
  // Only addresses with failures behind them queue for the shared slot.
  auto wait = doors.autoban().PaceCheck(peer_, kLongestPacedWait);
  if (!wait) {
    doors.LogOnce("pace-full", "FTP: password checks after failures are queued full; more are "
                               "refused (logged once)");
    return Close("421 Too many failed logins, please try again later.");
  }
  if (wait->count() == 0) return CheckPassword(arg);
  busy_ = true;
  login_delay_.expires_after(*wait);
  login_delay_.async_wait([self = shared_from_this(), arg](const asio::error_code& ec) {
    if (ec || self->closing_) return;
    self->busy_ = false;
    self->CheckPassword(arg);
    if (!self->busy_) self->Done();
  });
}

void FtpSession::CheckPassword(const std::string& arg) {
  auto account = server_.FindAccount(user_);
  bool ok = false;
  if (account && account->enabled == 1) {
    ok = PasswordMatches(*account, arg);
    std::string converted;
    if (!ok && !utf8_ && platform::Cp949ToUtf8(arg, converted))
      ok = PasswordMatches(*account, converted);
  }
  std::string why;
  if (ok && !tree_.Init(*account, &why)) {
    WriteLog("FTP %u: %s cannot log in: %s", id_, user_.c_str(), why.c_str());
    ok = false;
  }
  if (ok && account->user_limit > 0 &&
      static_cast<int64_t>(server_.LoggedInCount(account->user_name)) >=
          static_cast<int64_t>(account->user_limit))
    return Close("421 Too many users logged in for this account. Try again later.");
  // "IP Limit": logins of this account from one address.
  if (ok && account->address_limit > 0 &&
      static_cast<int64_t>(server_.LoggedInCountFrom(account->user_name, address_)) >=
          static_cast<int64_t>(account->address_limit))
    return Close("421 Too many connections from your address for this account. Try again later.");
  if (!ok) {
    ++failed_logins_;
    WriteLog("FTP %u: failed login of \"%s\" from %s", id_, user_.c_str(), address_.c_str());
    std::chrono::seconds ban{};
    if (server_.doors().autoban().RecordFailure(peer_, &ban)) {
      WriteLog("FTP: %s banned for %lld s after repeated failed logins", address_.c_str(),
               static_cast<long long>(ban.count()));
      return Close(server_.doors().BanReply(peer_));
    }
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
  server_.doors().autoban().RecordSuccess(peer_);
  prelogin_.Release();  // logged in: no longer among the bounded strangers
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

// One listing on its way out: a folder read entry by entry, or one file.
struct FtpSession::ListingJob {
  ListStyle style = ListStyle::kList;
  PathNode node;
  uint16_t rights = 0;
  std::string pattern;  // UTF-8; empty: every entry
  std::string prefix;   // NLST with a pattern: the folder part as the client gave it
  DirectoryReader reader;
  std::optional<DirItem> single;  // listing of a file
  int64_t now = 0;
  size_t left_out = 0;  // names the client's character set cannot carry
};

ListingSource FtpSession::PrepareListing(const std::string& arg, ListStyle style,
                                         std::string& quoted) {
  std::string path;
  if (!FromWire(arg, path)) return nullptr;
  auto job = std::make_shared<ListingJob>();
  job->style = style;
  PathNode& node = job->node;
  PathError e = tree_.Resolve(cwd_, path, node);
  size_t slash = path.rfind('/');
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  if ((e != PathError::kNone || !node.exists) && style != ListStyle::kMlsd && HasWildcard(last) &&
      !HasWildcard(folder)) {
    // "*.jpg" as mget sends it: the matching entries of the folder.
    PathNode dir;
    if (tree_.Resolve(cwd_, folder.empty() ? "." : folder, dir) == PathError::kNone && dir.exists &&
        dir.is_dir) {
      node = dir;
      e = PathError::kNone;
      job->pattern = last;
      if (style == ListStyle::kNlst) job->prefix = folder;
    }
  }
  if (e != PathError::kNone) {
    std::string text = PathErrorText(e);
    Reply(std::stoi(text.substr(0, 3)), text.substr(4));
    return nullptr;
  }
  if (!node.exists) {
    Reply(550, style == ListStyle::kStat ? "File or directory not found." : "Directory not found.");
    return nullptr;
  }
  if (!node.is_dir && style == ListStyle::kMlsd) {
    Reply(501, "Not a directory.");
    return nullptr;
  }
  job->rights = node.is_dir ? node.rights : node.parent_rights;
  if (!(job->rights & kDirList)) {
    Reply(550, "Permission denied.");
    return nullptr;
  }
  if (node.is_dir) {
    if (!job->reader.Open(node.real)) {
      Reply(550, "Directory cannot be read.");
      return nullptr;
    }
  } else {
    DirItem item;
    if (!StatItem(node.real, item)) {
      Reply(550, "File not found.");
      return nullptr;
    }
    item.name = node.Name();
    job->single = item;
  }
  job->now = std::time(nullptr);
  quoted = Quote(node.virtual_path);
  // The channel and the status writer call this only while the session lives.
  return [this, job](std::string& out) { return NextListingPart(*job, out); };
}

bool FtpSession::NextListingPart(ListingJob& job, std::string& out) {
  for (int n = 0; n < kListingBatch; ++n) {
    DirItem item;
    if (job.single) {
      item = *job.single;
      job.single.reset();
    } else if (!job.node.is_dir || !job.reader.Next(item)) {
      if (job.left_out > 0)
        WriteLog("FTP %u: %zu name(s) in %s cannot be written in EUC-KR; left out of the listing",
                 id_, job.left_out, job.node.virtual_path.c_str());
      job.left_out = 0;
      return false;
    }
    if (!job.pattern.empty() && ::fnmatch(job.pattern.c_str(), item.name.c_str(), FNM_PERIOD) != 0)
      continue;
    if (job.node.is_dir && HiddenLink(job.node.virtual_path, item)) continue;
    std::string name = job.prefix + item.name;
    std::string wire;
    if (utf8_) {
      wire = name;
    } else if (!platform::Utf8ToCp949(name, wire)) {
      // Shown as raw UTF-8 it could not be named back in any command.
      ++job.left_out;
      continue;
    }
    switch (job.style) {
      case ListStyle::kList:
        out += ListPrefix(item, job.now);
        break;
      case ListStyle::kStat:
        out += ' ';
        out += ListPrefix(item, job.now);
        break;
      case ListStyle::kMlsd: {
        // A folder's own entry (a share link, say) decides what may be done in it.
        uint16_t rights = job.rights;
        if (item.is_dir && job.node.is_dir)
          rights = tree_.DirRights(
              (job.node.virtual_path == "/" ? tree_.home() : tree_.home() + job.node.virtual_path) +
              "/" + item.name);
        out += MlsxFacts(item, rights);
        break;
      }
      case ListStyle::kNlst:
        break;
    }
    out += wire;
    out += "\r\n";
  }
  return true;
}

void FtpSession::DoStat(const std::string& arg) {
  if (arg.empty()) {
    return Reply(211, "FTP server status:\n Connected to " + address_ + "\n Logged in as " +
                          ToWire(user_) + "\n TYPE: " + (ascii_ ? "ASCII" : "BINARY") +
                          "\nEnd of status");
  }
  std::string quoted;
  ListingSource source = PrepareListing(ListPathArgument(arg), ListStyle::kStat, quoted);
  if (!source) return;
  // Written as the client reads it (see WriteNext), however big the folder.
  busy_ = true;
  status_source_ = std::move(source);
  Send("213-Status follows:\r\n");
}

void FtpSession::DoMfmt(const std::string& arg) {
  size_t space = arg.find(' ');
  int64_t when = 0;
  if (space == std::string::npos || !ParseTimeVal(arg.substr(0, space), when))
    return Reply(501, "Syntax error: MFMT YYYYMMDDHHMMSS path.");
  SetModified(arg.substr(space + 1), when, 213, "");
}

void FtpSession::DoSite(const std::string& arg) {
  std::string up = arg.substr(0, arg.find(' '));
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (up != "UTIME") return Reply(500, "SITE command not understood.");
  std::string rest = arg.size() > 6 ? arg.substr(6) : std::string();
  int64_t when = 0;
  // "UTIME <path> <atime> <mtime> <ctime> UTC", the path possibly with blanks.
  if (rest.size() > 4 && rest.compare(rest.size() - 4, 4, " UTC") == 0) {
    std::string head = rest.substr(0, rest.size() - 4);
    std::string times[3];
    bool ok = true;
    for (int i = 2; i >= 0 && ok; --i) {
      size_t sp = head.rfind(' ');
      ok = sp != std::string::npos;
      if (ok) {
        times[i] = head.substr(sp + 1);
        head.resize(sp);
      }
    }
    if (ok && !head.empty() && ParseTimeVal(times[1], when))
      return SetModified(head, when, 200, "SITE UTIME command successful.");
  }
  // "UTIME YYYYMMDDHHMMSS <path>"
  size_t space = rest.find(' ');
  if (space != std::string::npos && ParseTimeVal(rest.substr(0, space), when))
    return SetModified(rest.substr(space + 1), when, 200, "SITE UTIME command successful.");
  Reply(501, "Syntax error: SITE UTIME YYYYMMDDHHMMSS path.");
}

void FtpSession::SetModified(const std::string& path_wire, int64_t when, int code,
                             const std::string& done_text) {
  PathNode node;
  if (!ResolveOrReply(path_wire, node)) return;
  struct stat st {};
  if (::lstat(node.entry.c_str(), &st) != 0) return Reply(550, "File or directory not found.");
  bool dir = S_ISDIR(st.st_mode);
  // Changing a time is a change of the entry: the rights that may replace it.
  if (node.is_permission_root || !(node.parent_rights & (dir ? kDirCreate : kFileWrite)))
    return Reply(550, "Permission denied.");
  ParentDir parent;
  struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(when), 0}};
  if (!parent.Open(node.entry) ||
      ::utimensat(parent.fd, parent.name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    return Reply(550, std::string("Cannot set the time: ") + std::strerror(errno));
  if (code == 213) return Reply(213, "Modify=" + TimeVal(when) + "; " + ToWire(node.virtual_path));
  Reply(code, done_text);
}

// ---- data channel ----

// PASV shows the address the client can reach: the LAN address to LAN
// clients, the router's external address (when configured) to the rest.
std::string FtpSession::PassiveAddressFor() const {
  const SessionSettings& s = server_.settings();
  if (!lan_peer_ && !s.pasv_address.empty()) return s.pasv_address;
  return local_.to_v4().to_string();
}

void FtpSession::DoPasv(bool extended) {
  if (transferring()) return Reply(503, "A transfer is in progress.");
  if (!extended && !local_.is_v4()) {
    data_->Reset();
    return Reply(500, "PASV needs IPv4; use EPSV.");
  }
  const SessionSettings& s = server_.settings();
  uint16_t port = 0;
  data_->Reset();  // this session's earlier listener gives its place back first
  auto slot = server_.doors().TakePassiveSlot(peer_);
  if (!slot) return Reply(425, "Can't open data connection: too many passive connections open from your address.");
  if (!data_->Listen(s.pasv_min, s.pasv_max, port))
    return Reply(425, "Can't open data connection: no free port.");
  data_->HoldPassiveSlot(std::move(slot));
  if (extended)
    return Reply(229, "Entering Extended Passive Mode (|||" + std::to_string(port) + "|)");
  asio::error_code ec;
  auto b = asio::ip::make_address_v4(PassiveAddressFor(), ec).to_bytes();
  if (ec) b = local_.to_v4().to_bytes();
  Reply(227, "Entering Passive Mode (" + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," +
                 std::to_string(b[2]) + "," + std::to_string(b[3]) + "," +
                 std::to_string(port >> 8) + "," + std::to_string(port & 255) + ")");
}

void FtpSession::DoPort(const std::string& arg, bool extended) {
  if (transferring()) return Reply(503, "A transfer is in progress.");
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
  if (std::string refusal = server_.doors().DataTargetRefusal(peer_, Plain(addr), port);
      !refusal.empty())
    return Reply(504, refusal.substr(4));
  data_->Target(tcp::endpoint(Plain(addr), port));
  Reply(200, extended ? "EPRT command successful." : "PORT command successful.");
}

void FtpSession::StartTransfer(TransferRequest request) {
  if (TlsRefusesData()) {
    if (request.fd >= 0) ::close(request.fd);
    return;
  }
  busy_ = true;
  if (!data_->Begin(std::move(request))) {
    busy_ = false;
    Reply(425, "Use PORT or PASV first.");
  }
}

void FtpSession::OnDataReply(int code, const std::string& text) { Reply(code, text); }

void FtpSession::OnTransferEnded(int code, const std::string& text, TransferKind kind) {
  last_transfer_ = Clock::now();
  if (kind == TransferKind::kStor && code != 226)
    WriteLog("FTP %u: upload ended early (%d); the partial file stays", id_, code);
  Reply(code, text);
  server_.OnTransferEnded(*this);
  Done();
}

void FtpSession::DoAbor() {
  if (!transferring()) {
    data_->Reset();
    return Reply(226, "ABOR command successful.");
  }
  data_->Reset();
  last_transfer_ = Clock::now();
  Reply(426, "Connection closed; transfer aborted.");
  Reply(226, "ABOR command successful.");
  server_.OnTransferEnded(*this);
  Done();
}

// ---- file commands ----

void FtpSession::DoList(const std::string& arg, ListStyle style) {
  rest_ = 0;
  TransferRequest r;
  r.kind = TransferKind::kListing;
  r.listing = PrepareListing(ListPathArgument(arg), style, r.quoted);
  if (!r.listing) return;
  StartTransfer(std::move(r));
}

void FtpSession::DoMlst(const std::string& arg) {
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  if (!node.exists) return Reply(550, "File or directory not found.");
  uint16_t rights = node.is_dir ? node.rights : node.parent_rights;
  if (!(rights & kDirList) && !(node.parent_rights & kDirList))
    return Reply(550, "Permission denied.");
  DirItem item;
  if (!StatItem(node.real, item)) return Reply(550, "File not found.");
  Reply(250, "Listing " + ToWire(node.virtual_path) + "\n " + MlsxFacts(item, rights) +
                 ToWire(node.virtual_path) + "\nEnd");
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
  TransferRequest t;
  t.kind = TransferKind::kRetr;
  t.quoted = Quote(node.virtual_path);
  t.fd = fd;
  t.offset = offset;
  t.ascii = ascii_;
  StartTransfer(std::move(t));
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
  TransferRequest t;
  t.kind = TransferKind::kStor;
  t.quoted = Quote(node.virtual_path);
  t.real = node.real;
  t.offset = offset;
  t.append = append;
  t.truncate = !append && offset == 0;
  t.may_rewrite = (node.parent_rights & kFileWrite) != 0;
  t.ascii = ascii_;
  StartTransfer(std::move(t));
}

void FtpSession::DoDele(const std::string& arg) {
  PathNode node;
  if (!ResolveOrReply(arg, node)) return;
  struct stat st {};
  if (::lstat(node.entry.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    return Reply(550, "File not found.");
  if (!(node.parent_rights & kFileDelete) || node.is_permission_root)
    return Reply(550, "Permission denied.");
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
  if (::lstat(node.entry.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Reply(550, "Directory not found.");
  if (!(node.parent_rights & kDirDelete) || node.is_permission_root)
    return Reply(550, "Permission denied.");
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
