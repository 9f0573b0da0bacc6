#include "ftpd/server.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "core/log.h"
#include "ftpd/doors.h"
#include "ftpd/session.h"
#include "ftpctl/admin_auth.h"
#include "httpd/http_server.h"
#include "platform/netinfo.h"
#include "platform/process.h"

namespace quarno::ftpd {

using asio::ip::tcp;
using local_stream = asio::local::stream_protocol;

namespace {

constexpr size_t kMaxAdminConnections = 16;
constexpr size_t kMaxAdminMessage = 4 << 20;  // far above any real account list or option set
constexpr size_t kMaxAdminQueue = 16 << 20;

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

// ---- admin connection ----

class AdminConnection : public std::enable_shared_from_this<AdminConnection> {
 public:
  AdminConnection(Server& server, tcp::socket socket)
      : server_(server), socket_(std::move(socket)) {}

  void Start() {
    Send(Greeting());
    // The run's secret answers the challenge; nothing else is served before.
    nonce_ = ftpctl::NewNonce();
    Send(Frame(AdminType::kCommand, ftpctl::kCmdAuth, ftpctl::ChallengePayload(nonce_)));
    auto timer = std::make_shared<asio::steady_timer>(server_.io(), std::chrono::seconds(10));
    timer->async_wait([self = shared_from_this(), timer](const asio::error_code& ec) {
      if (!ec && !self->authenticated_) self->Close();
    });
    Read();
  }

  // The first message must be the challenge's answer.
  bool Authenticate(const AdminMessage& m) {
    auto secret = ftpctl::ReadAdminSecret();
    if (m.id == ftpctl::kCmdAuth && secret &&
        ftpctl::AnswerMatches(*secret, nonce_, m.payload.data(), m.payload.size())) {
      authenticated_ = true;
      Send(Frame(AdminType::kReply, 0, {}));
      return true;
    }
    server_.doors().LogOnce("admin-answer",
                            "admin: a connection did not answer the password challenge; closed "
                            "(logged once)");
    static const std::string kRefused = "Admin password not accepted.";
    Send(Frame(AdminType::kStatus, 4, Bytes(kRefused.begin(), kRefused.end())));
    close_after_write_ = true;
    if (!writing_) Close();
    return false;
  }

  void Send(Bytes bytes) {
    if (closed_) return;
    queued_ += bytes.size();
    if (queued_ > kMaxAdminQueue) {
      WriteLog("admin: client does not read its messages; connection closed");
      return Close();
    }
    out_.push_back(std::move(bytes));
    if (!writing_) WriteNext();
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    asio::error_code ec;
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    server_.OnAdminClosed(this);
  }

 private:
  void Read() {
    socket_.async_read_some(
        asio::buffer(chunk_), [self = shared_from_this()](const asio::error_code& ec, size_t n) {
          if (self->closed_) return;
          if (ec) return self->Close();
          self->buffer_.insert(self->buffer_.end(), self->chunk_.begin(),
                               self->chunk_.begin() + static_cast<long>(n));
          AdminMessage message;
          while (true) {
            if (self->buffer_.size() >= 5) {
              uint32_t len = uint32_t(self->buffer_[1]) | uint32_t(self->buffer_[2]) << 8 |
                             uint32_t(self->buffer_[3]) << 16 | uint32_t(self->buffer_[4]) << 24;
              if (len > kMaxAdminMessage) {
                WriteLog("admin: message of %u bytes refused; connection closed", len);
                return self->Close();
              }
            }
            FrameResult r = TakeClientMessage(self->buffer_, message);
            if (r == FrameResult::kNeedMore) break;
            if (r == FrameResult::kMalformed) {
              WriteLog("admin: malformed message; connection closed");
              return self->Close();
            }
            if (!self->authenticated_) {
              if (!self->Authenticate(message)) return;
              continue;
            }
            self->server_.HandleAdmin(self, message);
            if (self->closed_) return;
          }
          self->Read();
        });
  }

  void WriteNext() {
    if (out_.empty() || closed_) {
      writing_ = false;
      if (close_after_write_) Close();
      return;
    }
    writing_ = true;
    asio::async_write(socket_, asio::buffer(out_.front()),
                      [self = shared_from_this()](const asio::error_code& ec, size_t) {
                        if (self->closed_) return;
                        self->queued_ -= self->out_.front().size();
                        self->out_.pop_front();
                        if (ec) return self->Close();
                        self->WriteNext();
                      });
  }

  Server& server_;
  tcp::socket socket_;
  std::array<uint8_t, 8192> chunk_{};
  Bytes buffer_;
  std::deque<Bytes> out_;
  size_t queued_ = 0;
  bool writing_ = false;
  bool closed_ = false;
  bool authenticated_ = false;
  bool close_after_write_ = false;
  std::vector<uint8_t> nonce_;
};

// ---- control channel connection ----

namespace {

class ControlConnection : public std::enable_shared_from_this<ControlConnection> {
 public:
  ControlConnection(Server& server, local_stream::socket socket)
      : server_(server), socket_(std::move(socket)), timer_(server.io()) {}

  void Start() {
    timer_.expires_after(std::chrono::seconds(5));
    timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (!ec) {
        asio::error_code ignored;
        self->socket_.close(ignored);
      }
    });
    Read();
  }

 private:
  void Read() {
    socket_.async_read_some(
        asio::buffer(chunk_), [self = shared_from_this()](const asio::error_code& ec, size_t n) {
          if (ec) {
            self->timer_.cancel();
            return;
          }
          self->line_.append(self->chunk_.data(), n);
          size_t nl = self->line_.find('\n');
          if (nl == std::string::npos) {
            if (self->line_.size() > 32) return self->Answer("ERR bad request");
            return self->Read();
          }
          std::string text = self->line_.substr(0, nl);
          if (!text.empty() && text.back() == '\r') text.pop_back();
          int code = -1;
          if (!text.empty() && text.size() <= 3 &&
              text.find_first_not_of("0123456789") == std::string::npos)
            code = std::stoi(text);
          self->Answer(code < 0 ? std::string("ERR bad request") : self->server_.RunControl(code));
        });
  }

  void Answer(std::string text) {
    answer_ = std::move(text) + "\n";
    asio::async_write(socket_, asio::buffer(answer_),
                      [self = shared_from_this()](const asio::error_code&, size_t) {
                        asio::error_code ec;
                        self->socket_.close(ec);
                        self->timer_.cancel();
                      });
  }

  Server& server_;
  local_stream::socket socket_;
  asio::steady_timer timer_;
  std::array<char, 64> chunk_{};
  std::string line_;
  std::string answer_;
};

}  // namespace

// ---- server ----

Server::Server(ServerOptions options)
    : options_(std::move(options)),
      io_(1),
      signals_(io_),
      sweep_(io_),
      tls_(options_.tls_folder.empty() ? platform::TlsIdentityFolder() : options_.tls_folder),
      doors_(std::make_unique<Doors>()) {
  doors_->SetOwnPorts([this] {
    std::vector<uint16_t> ports = ftp_ports();
    ports.push_back(admin_port_);
    if (http_port_) ports.push_back(http_port_);
    return ports;
  });
  if (!options_.http)
    options_.http =
        MakeHttpServing(options_.listen_address, options_.ftp_charset, options_.router_mac);
  options_.http->SetAutoban(doors_->shared_autoban());
}

Server::~Server() {
  if (!options_.control_socket.empty() && control_acceptor_)
    ::unlink(options_.control_socket.c_str());
}

bool Server::Start(std::string& why) {
  // sendfile() to a socket the client has closed would otherwise end the process.
  ::signal(SIGPIPE, SIG_IGN);
  // A busy session holds up to four descriptors (control, passive listener,
  // data, file); the usual soft limit of 1024 would run out long before the
  // session cap, failing transfers and new connections alike.
  struct rlimit files {};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    rlim_t want = std::min<rlim_t>(files.rlim_max, 65536);
    if (files.rlim_cur < want) {
      files.rlim_cur = want;
      if (::setrlimit(RLIMIT_NOFILE, &files) != 0)
        WriteLog("descriptor limit not raised: %s", std::strerror(errno));
    }
  }
  if (!options_.control_socket.empty()) {
    // A live daemon answers on the socket; a stale file from a crash does not.
    local_stream::socket probe(io_);
    asio::error_code ec;
    probe.connect(local_stream::endpoint(options_.control_socket), ec);
    if (!ec) {
      why = "another quarno-ftpd already serves " + options_.control_socket;
      return false;
    }
    ::unlink(options_.control_socket.c_str());
    control_acceptor_ = std::make_unique<local_stream::acceptor>(io_);
    control_acceptor_->open(local_stream(), ec);
    if (!ec) control_acceptor_->bind(local_stream::endpoint(options_.control_socket), ec);
    if (!ec) control_acceptor_->listen(8, ec);
    if (ec) {
      why = "control channel " + options_.control_socket + ": " + ec.message();
      control_acceptor_.reset();
      return false;
    }
    AcceptControl();
  }
  if (!ftpctl::EnsureAdminSecret())
    WriteLog("admin secret %s cannot be made; the admin channel admits nobody",
             ftpctl::AdminSecretPath().c_str());
  std::string load_error;
  ServerConfig config;
  if (LoadConfigFile(options_.config_path, config, load_error)) {
    ApplyConfig(config, true, nullptr);
  } else {
    WriteLog("configuration not loaded (%s); running without it", load_error.c_str());
    ApplyConfig(config_, true, nullptr);
  }
  signals_.add(SIGTERM);
  signals_.add(SIGINT);
  signals_.async_wait([this](const asio::error_code& ec, int signal) {
    if (ec) return;
    WriteLog("signal %d: stopping", signal);
    Stop();
  });
  ScheduleSweep();
  return true;
}

void Server::Run() { io_.run(); }

void Server::Stop() {
  asio::post(io_, [this] {
    if (stopping_) return;
    stopping_ = true;
    asio::error_code ec;
    for (auto& [port, acceptor] : ftp_acceptors_) acceptor->close(ec);
    ftp_acceptors_.clear();
    if (admin_acceptor_) admin_acceptor_->close(ec);
    if (control_acceptor_) control_acceptor_->close(ec);
    auto sessions = sessions_;
    for (auto& [id, session] : sessions) session->Close("421 Server is shutting down.");
    auto admins = admins_;
    for (auto& a : admins) a->Close();
    options_.http->Stop();
    signals_.cancel();
    sweep_.cancel();
    // Let the goodbye lines go out, then end the loop.
    auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(200));
    timer->async_wait([this, timer](const asio::error_code&) { io_.stop(); });
  });
}

void Server::ScheduleSweep() {
  sweep_.expires_after(std::chrono::milliseconds(500));
  sweep_.async_wait([this](const asio::error_code& ec) {
    if (ec || stopping_) return;
    auto now = FtpSession::Clock::now();
    auto sessions = sessions_;
    for (auto& [id, session] : sessions) session->CheckTimeouts(now);
    ScheduleSweep();
  });
}

bool Server::ReloadFile(std::string& why) {
  ServerConfig config;
  if (!LoadConfigFile(options_.config_path, config, why)) {
    WriteLog("configuration not reloaded, keeping the last good one: %s", why.c_str());
    return false;
  }
  std::string error;
  ApplyConfig(config, true, &error);
  if (!error.empty()) {
    why = error;
    return false;
  }
  return true;
}

void Server::ApplyConfig(const ServerConfig& config, bool from_file, std::string* error) {
  config_ = config;
  accounts_.clear();
  for (const auto& a : config_.users) accounts_.push_back(std::make_shared<const Account>(a));
  if (from_file && config.admin_port_given) {
    uint16_t admin = static_cast<uint16_t>(config_.options.Number(kOptAdminPort));
    if (admin != admin_port_ || !admin_acceptor_) OpenAdmin(admin, error);
  }
  config_.options.SetNumber(kOptAdminPort, admin_port_);
  ApplyOptions(error);
  WriteLog("configuration: %zu user(s), ports \"%s\", admin port %u", accounts_.size(),
           config_.options.Text(kOptServerports).c_str(), admin_port_);
}

bool Server::ApplyOptions(std::string* error) {
  const GeneralOptions& o = config_.options;
  SessionSettings s;
  auto clamp = [](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, 86400 * 7)); };
  s.timeout_s = clamp(o.Number(kOptTimeout));
  s.no_transfer_timeout_s = clamp(o.Number(kOptNoTransferTimeout));
  s.login_timeout_s = clamp(o.Number(kOptLoginTimeout));
  s.welcome = o.Text(kOptWelcome);
  s.hide_welcome = o.Number(kOptHideWelcome) != 0;
  if (o.Number(kOptCustomPasvIpType) == 1) s.pasv_address = o.Text(kOptCustomPasvIp);
  if (o.Number(kOptUseCustomPasvPorts) != 0) {
    int64_t lo = o.Number(kOptCustomPasvMinPort), hi = o.Number(kOptCustomPasvMaxPort);
    if (lo >= 1024 && hi <= 65535 && lo <= hi) {
      s.pasv_min = static_cast<uint16_t>(lo);
      s.pasv_max = static_cast<uint16_t>(hi);
    }
  }
  settings_ = s;
  tls_.Apply(o);
  doors_->ApplyAutobanOptions(o);
  doors_->SetSessionCap(SessionCap(), static_cast<size_t>(options_.max_unauthenticated_per_address));
  std::vector<uint16_t> ports;
  if (!ParsePortList(o.Text(kOptServerports), ports)) {
    WriteLog("Serverports \"%s\" not understood; listening ports unchanged",
             o.Text(kOptServerports).c_str());
    if (error && error->empty()) *error = "bad Serverports";
    return false;
  }
  bool bound = RebindFtp(ports, error);
  if (ports.empty() && !sessions_.empty()) {
    // With no FTP port the server is offline to its users: they are logged
    // out as going offline at once does, or the account would stay usable.
    WriteLog("no FTP port: %zu connection(s) closed", sessions_.size());
    auto sessions = sessions_;
    for (auto& [id, session] : sessions) session->Close("421 Server is going offline.");
  }
  return bound;
}

bool Server::OpenAdmin(uint16_t port, std::string* error) {
  asio::error_code ec;
  if (admin_acceptor_) admin_acceptor_->close(ec);
  admin_acceptor_.reset();
  admin_port_ = 0;
  if (port == 0) return true;
  auto acceptor = std::make_unique<tcp::acceptor>(io_);
  tcp::endpoint ep(asio::ip::make_address_v4("127.0.0.1"), port);
  acceptor->open(ep.protocol(), ec);
  if (!ec) acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor->bind(ep, ec);
  if (!ec) acceptor->listen(16, ec);
  if (ec) {
    WriteLog("admin port %u cannot be opened: %s", port, ec.message().c_str());
    if (error && error->empty())
      *error = "admin port " + std::to_string(port) + ": " + ec.message();
    return false;
  }
  admin_acceptor_ = std::move(acceptor);
  admin_port_ = port;
  AcceptAdmin();
  return true;
}

bool Server::RebindFtp(const std::vector<uint16_t>& ports, std::string* error) {
  asio::error_code ec;
  for (auto it = ftp_acceptors_.begin(); it != ftp_acceptors_.end();) {
    if (std::find(ports.begin(), ports.end(), it->first) == ports.end()) {
      it->second->close(ec);
      it = ftp_acceptors_.erase(it);
    } else {
      ++it;
    }
  }
  bool ok = true;
  for (uint16_t port : ports) {
    if (ftp_acceptors_.count(port)) continue;
    auto acceptor = std::make_shared<tcp::acceptor>(io_);
    auto try_bind = [&](const asio::ip::address& address, bool dual) {
      asio::error_code e;
      tcp::endpoint ep(address, port);
      acceptor->open(ep.protocol(), e);
      if (!e) acceptor->set_option(tcp::acceptor::reuse_address(true), e);
      if (!e && dual) acceptor->set_option(asio::ip::v6_only(false), e);
      if (!e) acceptor->bind(ep, e);
      if (!e) acceptor->listen(asio::socket_base::max_listen_connections, e);
      if (e) {
        asio::error_code ignored;
        acceptor->close(ignored);
      }
      return e;
    };
    asio::error_code e;
    if (options_.listen_address.empty()) {
      e = try_bind(asio::ip::address_v6::any(), true);
      if (e) e = try_bind(asio::ip::address_v4::any(), false);
    } else {
      asio::ip::address address = asio::ip::make_address(options_.listen_address, e);
      if (!e) e = try_bind(address, false);
    }
    if (e) {
      WriteLog("FTP port %u cannot be opened: %s", port, e.message().c_str());
      if (error && error->empty()) *error = "FTP port " + std::to_string(port) + ": " + e.message();
      ok = false;
      continue;
    }
    ftp_acceptors_[port] = acceptor;
    AcceptFtp(acceptor);
  }
  return ok;
}

void Server::AcceptFtp(const std::shared_ptr<tcp::acceptor>& acceptor) {
  acceptor->async_accept([this, acceptor](const asio::error_code& ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor->is_open() || stopping_) return;
    if (!ec) {
      size_t cap = SessionCap();
      asio::error_code pec;
      asio::ip::address peer = PlainAddress(socket.remote_endpoint(pec).address());
      std::string ban = pec ? std::string() : doors_->BanReply(peer);
      const char* refusal = nullptr;
      if (!(state_ & kStateOnline) ||
          (state_ & (kStateGoingOfflineNow | kStateWaitTransfers | kStateWaitLogout)))
        refusal = "421 Server is offline.\r\n";
      else if (state_ & kStateLocked)
        refusal = "421 Server is locked.\r\n";
      else if (sessions_.size() >= cap)
        refusal = "421 Too many users are connected, please try again later.\r\n";
      else if (!ban.empty())
        refusal = (ban += "\r\n").c_str();
      else if (UnauthenticatedFrom(socket) >= options_.max_unauthenticated_per_address)
        refusal = "421 Too many connections from your address, please log in first.\r\n";
      // Not logged in yet: a place among the bounded few, the crowd's
      // biggest holder giving way to a newcomer.
      auto admitted = std::make_shared<std::weak_ptr<FtpSession>>();
      platform::Admission::Ticket ticket;
      if (!refusal) {
        ticket = doors_->AdmitBeforeLogin(peer, [this, admitted] {
          asio::post(io_, [admitted] {
            if (auto s = admitted->lock()) s->Close("421 Too many connections, please log in first.");
          });
        });
        if (!ticket) refusal = "421 Too many users are connected, please try again later.\r\n";
      }
      if (refusal) {
        // A short blocking write to a fresh socket's empty buffer; then gone.
        asio::error_code wec;
        socket.non_blocking(true, wec);
        socket.write_some(asio::buffer(refusal, std::strlen(refusal)), wec);
        socket.close(wec);
      } else {
        uint32_t id = next_id_++;
        if (next_id_ == 0) next_id_ = 1;
        auto session = std::make_shared<FtpSession>(*this, std::move(socket), id);
        *admitted = session;
        session->HoldPreLoginTicket(std::move(ticket));
        sessions_[id] = session;
        BroadcastStatus(3, ConnectionAdded(id, session->address(), session->port()));
        session->Start();
      }
    } else if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space) {
      // Out of descriptors: pause a moment rather than spin.
      auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(100));
      timer->async_wait([this, acceptor, timer](const asio::error_code&) { AcceptFtp(acceptor); });
      return;
    }
    AcceptFtp(acceptor);
  });
}

void Server::AcceptAdmin() {
  if (!admin_acceptor_) return;
  admin_acceptor_->async_accept(
      [this, acceptor = admin_acceptor_.get()](const asio::error_code& ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || stopping_ || admin_acceptor_.get() != acceptor)
          return;
        if (!ec) {
          if (!AdminPeerAllowed(socket)) {
            asio::error_code ignored;
            socket.close(ignored);
          } else if (admins_.size() >= kMaxAdminConnections) {
            asio::error_code ignored;
            socket.close(ignored);
          } else {
            auto conn = std::make_shared<AdminConnection>(*this, std::move(socket));
            admins_.push_back(conn);
            conn->Start();
          }
        }
        AcceptAdmin();
      });
}

// The admin protocol has no password, so the port itself is the lock: only
// this daemon's own user (and root) may talk to it. Any local account could
// otherwise replace the account list and read files through FTP.
bool Server::AdminPeerAllowed(const tcp::socket& socket) {
  asio::error_code local_error, remote_error;
  tcp::endpoint ours = socket.local_endpoint(local_error);
  tcp::endpoint peer = socket.remote_endpoint(remote_error);
  if (local_error || remote_error) return false;
  const std::string peer_address = peer.address().to_string();
  std::optional<uint32_t> owner =
      platform::TcpPeerOwner(peer_address, peer.port(), ours.address().to_string(), ours.port());
  const uint32_t self = platform::EffectiveUserId();
  if (owner && (*owner == self || *owner == 0)) {
    // A data connection the daemon was talked into making to itself.
    if (options_.admin_from_own_process ||
        !platform::TcpPeerIsThisProcess(peer_address, peer.port(), ours.address().to_string(),
                                        ours.port()))
      return true;
    doors_->LogOnce("admin-self", "admin: a connection from this daemon's own process refused "
                                  "(logged once)");
    return false;
  }
  if (owner) {
    doors_->LogOnce("admin-uid-" + std::to_string(*owner),
                    "admin: connection from " + peer_address + ":" + std::to_string(peer.port()) +
                        " of uid " + std::to_string(*owner) + " refused (only uid " +
                        std::to_string(self) + " or root; logged once per uid)");
  } else {
    doors_->LogOnce("admin-unknown", "admin: connection from " + peer_address + ":" +
                                         std::to_string(peer.port()) +
                                         " refused: its owner cannot be told (logged once)");
  }
  return false;
}

void Server::AcceptControl() {
  control_acceptor_->async_accept([this](const asio::error_code& ec, local_stream::socket socket) {
    if (ec == asio::error::operation_aborted || stopping_) return;
    if (!ec) std::make_shared<ControlConnection>(*this, std::move(socket))->Start();
    AcceptControl();
  });
}

void Server::OnAdminClosed(AdminConnection* conn) {
  admins_.erase(std::remove_if(admins_.begin(), admins_.end(),
                               [conn](const auto& p) { return p.get() == conn; }),
                admins_.end());
}

void Server::BroadcastStatus(uint8_t id, const Bytes& payload) {
  Bytes frame = Frame(AdminType::kStatus, id, payload);
  auto admins = admins_;
  for (auto& a : admins) a->Send(frame);
}

size_t Server::SessionCap() const {
  size_t cap = config_.options.Number(kOptMaxUsers) > 0
                   ? static_cast<size_t>(config_.options.Number(kOptMaxUsers))
                   : static_cast<size_t>(options_.max_sessions_when_unlimited);
  return std::min<size_t>(cap, 10000);
}

bool Server::AcceptsLogins() const {
  return (state_ & kStateOnline) && !(state_ & (kStateGoingOfflineNow | kStateWaitTransfers |
                                                kStateWaitLogout | kStateLocked));
}

std::shared_ptr<const Account> Server::FindAccount(const std::string& user) const {
  for (const auto& a : accounts_)
    if (EqualNoCase(a->user_name, user)) return a;
  return nullptr;
}

int Server::LoggedInCountFrom(const std::string& user, const std::string& address) const {
  int n = 0;
  for (const auto& [id, s] : sessions_)
    if (s->logged_in() && !s->closing() && s->address() == address && EqualNoCase(s->user(), user))
      ++n;
  return n;
}

int Server::UnauthenticatedFrom(const tcp::socket& socket) const {
  asio::error_code ec;
  auto remote = socket.remote_endpoint(ec);
  if (ec) return 0;
  std::string address = PlainAddress(remote.address()).to_string();
  int n = 0;
  for (const auto& [id, s] : sessions_)
    if (!s->logged_in() && s->address() == address) ++n;
  return n;
}

bool PeerOnLan(const asio::ip::address& peer_in, const asio::ip::address& local_in,
               std::optional<int> prefix) {
  asio::ip::address peer = PlainAddress(peer_in), local = PlainAddress(local_in);
  if (peer.is_loopback()) return true;
  if (peer.is_v4()) {
    uint32_t p = peer.to_v4().to_uint();
    auto in = [p](uint32_t net, int bits) { return (p >> (32 - bits)) == (net >> (32 - bits)); };
    if (in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0xA9FE0000, 16))
      return true;
    if (!local.is_v4() || !prefix || *prefix <= 0 || *prefix > 32) return false;
    uint32_t mask = *prefix == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> *prefix);
    return (p & mask) == (local.to_v4().to_uint() & mask);
  }
  auto b = peer.to_v6().to_bytes();
  if ((b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80)) return true;
  if (!local.is_v6() || !prefix || *prefix <= 0 || *prefix > 128) return false;
  auto l = local.to_v6().to_bytes();
  for (int bit = 0; bit < *prefix; ++bit) {
    uint8_t m = static_cast<uint8_t>(0x80 >> (bit % 8));
    if ((b[bit / 8] & m) != (l[bit / 8] & m)) return false;
  }
  return true;
}

bool Server::NamesInUtf8() const {
  return httpd::FtpCharsetIsUtf8(options_.ftp_charset ? options_.ftp_charset() : std::nullopt);
}

bool Server::IsLanPeer(const asio::ip::address& peer, const asio::ip::address& local) const {
  if (options_.lan_peer) return options_.lan_peer(peer, local);
  return PeerOnLan(peer, local, platform::LocalPrefixLength(PlainAddress(local).to_string()));
}

int Server::LoggedInCount(const std::string& user) const {
  int n = 0;
  for (const auto& [id, s] : sessions_)
    if (s->logged_in() && EqualNoCase(s->user(), user)) ++n;
  return n;
}

void Server::OnLoggedIn(FtpSession& session) {
  BroadcastStatus(3, ConnectionUserChanged(session.id(), session.user()));
}

void Server::OnSessionClosed(uint32_t id) {
  if (sessions_.erase(id) == 0) return;
  BroadcastStatus(3, ConnectionRemoved(id));
  SettleState();
}

void Server::OnTransferEnded(FtpSession& session) {
  if (state_ & kStateWaitTransfers) {
    auto keep = sessions_.count(session.id()) ? sessions_[session.id()] : nullptr;
    asio::post(io_, [keep] {
      if (keep) keep->Close("421 Server is going offline.");
    });
  }
}

// Offline states end once nobody is left.
void Server::SettleState() {
  if ((state_ & (kStateWaitTransfers | kStateWaitLogout)) && sessions_.empty()) {
    state_ = state_ & kStateLocked;
    BroadcastStatus(2, {static_cast<uint8_t>(state_ >> 8), static_cast<uint8_t>(state_)});
  }
}

void Server::SetState(uint16_t word) {
  uint16_t locked = word & kStateLocked;
  auto sessions = sessions_;
  if ((word & kStateGoingOfflineNow) ||
      !(word & (kStateOnline | kStateWaitTransfers | kStateWaitLogout))) {
    state_ = locked;  // offline at once
    for (auto& [id, s] : sessions) s->Close("421 Server is going offline.");
  } else if (word & kStateWaitTransfers) {
    state_ = static_cast<uint16_t>(kStateWaitTransfers | locked);
    for (auto& [id, s] : sessions)
      if (!s->transferring()) s->Close("421 Server is going offline.");
  } else if (word & kStateWaitLogout) {
    state_ = static_cast<uint16_t>(kStateWaitLogout | locked);
  } else {
    state_ = static_cast<uint16_t>(kStateOnline | locked);
  }
  WriteLog("server state 0x%04X", state_);
  BroadcastStatus(2, {static_cast<uint8_t>(state_ >> 8), static_cast<uint8_t>(state_)});
  SettleState();
}

void Server::HandleAdmin(const std::shared_ptr<AdminConnection>& conn, const AdminMessage& m) {
  const Bytes& p = m.payload;
  auto state_bytes = [this] {
    return Bytes{static_cast<uint8_t>(state_ >> 8), static_cast<uint8_t>(state_)};
  };
  switch (m.id) {
    case ftpctl::kCmdServerState:
      if (p.size() == 2) {
        SetState(static_cast<uint16_t>(p[0] << 8 | p[1]));
      } else if (!p.empty()) {
        WriteLog("admin: bad state message; connection closed");
        return conn->Close();
      }
      return conn->Send(Frame(AdminType::kReply, 2, state_bytes()));
    case ftpctl::kCmdConnections: {
      if (p.size() == 5 && p[0] == 2) {  // kick one connection
        uint32_t id =
            uint32_t(p[1]) | uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16 | uint32_t(p[4]) << 24;
        if (auto it = sessions_.find(id); it != sessions_.end()) {
          auto s = it->second;
          s->Close("421 Kicked by the administrator.");
        }
        return;
      }
      if (p.size() > 1 || (p.size() == 1 && p[0] != 0)) {
        WriteLog("admin: bad connection-list request; connection closed");
        return conn->Close();
      }
      std::vector<ConnectionEntry> entries;
      for (const auto& [id, s] : sessions_)
        entries.push_back({id, s->address(), s->port(), ConnectionTimeText(s->connected_at())});
      return conn->Send(Frame(AdminType::kReply, 3, FullConnectionList(entries)));
    }
    case ftpctl::kCmdOptions: {
      if (!p.empty()) {
        GeneralOptions incoming;
        if (!ParseOptions(p.data(), p.size(), incoming)) {
          WriteLog("admin: malformed option set; connection closed");
          return conn->Close();
        }
        for (int id = 1; id <= kOptionCount; ++id)
          if (!OptionTable(id).local) config_.options.At(id) = incoming.At(id);
        std::string error;
        ApplyOptions(&error);
        WriteLog("admin: option set applied (ports \"%s\")%s%s",
                 config_.options.Text(kOptServerports).c_str(), error.empty() ? "" : "; ",
                 error.c_str());
      }
      return conn->Send(Frame(AdminType::kReply, 5, SerializeOptions(config_.options)));
    }
    case ftpctl::kCmdAccounts: {
      if (p.empty()) {
        // The hashes never leave the daemon: whoever reads them can log in.
        std::vector<Account> shown = config_.users;
        for (auto& a : shown) a.password.clear();
        return conn->Send(Frame(AdminType::kReply, 6, SerializeAccountMessage(shown)));
      }
      std::vector<Account> users;
      if (!ParseAccountMessage(p.data(), p.size(), users)) {
        WriteLog("admin: malformed account message; connection closed");
        return conn->Close();
      }
      config_.users = users;
      accounts_.clear();
      for (const auto& a : users) accounts_.push_back(std::make_shared<const Account>(a));
      WriteLog("admin: %zu account(s) received", users.size());
      return conn->Send(Frame(AdminType::kReply, 6, {}));
    }
    case ftpctl::kCmdKeepAlive:
      return conn->Send(Frame(AdminType::kReply, 8, {}));
    default:
      return;  // ids this server does not serve are ignored
  }
}

std::string Server::RunControl(int code) {
  WriteLog("control code %d", code);
  switch (code) {
    case ftpctl::kControlStartFtp: {
      std::string why;
      bool ok = ReloadFile(why);
      SetState(kStateOnline);
      return ok ? "OK" : "ERR " + why;
    }
    case ftpctl::kControlStartHttp: {
      std::string port_text, why;
      if (!options_.http_port || !options_.http_port(port_text)) return "ERR BOOT_HTTP is not set";
      int port = 0;
      if (port_text.empty() || port_text.size() > 5 ||
          port_text.find_first_not_of("0123456789") != std::string::npos ||
          (port = std::stoi(port_text)) < 1 || port > 65535)
        return "ERR bad BOOT_HTTP \"" + port_text + "\"";
      if (options_.http->Running()) options_.http->Stop();
      if (!options_.http->Start(port, options_.home_folder, why)) {
        WriteLog("HTTP serving not started: %s", why.c_str());
        return "ERR " + why;
      }
      WriteLog("HTTP serving on port %d", port);
      http_port_ = static_cast<uint16_t>(port);
      return "OK";
    }
    case ftpctl::kControlStopHttp:
      options_.http->Stop();
      http_port_ = 0;
      return "OK";
    default:
      return "ERR unknown control code";
  }
}

std::vector<uint16_t> Server::ftp_ports() const {
  std::vector<uint16_t> ports;
  for (const auto& [port, acceptor] : ftp_acceptors_) {
    asio::error_code ec;
    ports.push_back(acceptor->local_endpoint(ec).port());
  }
  return ports;
}

}  // namespace quarno::ftpd
