#include "httpd/http_server.h"

#include <pthread.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/core/detect_ssl.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "httpd/exchange.h"
#include "httpd/request_head.h"
#include "httpd/share_files.h"
#include "platform/admission.h"
#include "platform/asio.h"
#include "platform/tls_identity.h"
#include "platform/trace.h"

namespace quarno::httpd {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using namespace std::chrono_literals;

// A file this small leaves in the same write as its head.
constexpr std::uint64_t kInlineFile = 16 * 1024;
// sendfile per turn of the loop: other connections get theirs in between,
// and a stop waits for at most one.
constexpr std::uint64_t kFilePiece = 1u << 20;
// Over TLS the file is read and written in pieces this big.
constexpr std::size_t kTlsPiece = 64 * 1024;
constexpr std::size_t kScratch = 16 * 1024;
// A lister waits this long for a place before it asks again.
constexpr auto kListingRetry = 20ms;
// After the answer of a closing connection, what the client still sends is
// read and dropped this long: closing with unread bytes would reset the
// connection and could destroy the answer before the client read it.
constexpr auto kLinger = 2s;

// The user sees at most 200 bytes; never cut a UTF-8 sequence in half.
std::string Clip200(std::string text) {
  if (text.size() <= 200) return text;
  std::size_t end = 200;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

bool ValidPortText(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

}  // namespace

// One event loop per thread, each with a listening socket of its own (see
// StartHttpServer): a connection stays on the loop that accepted it, so no
// handler ever waits for another thread nor wakes one.
struct Loop {
  // One thread runs it; only admission's evictions come from another one.
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  tcp::endpoint peer;
  asio::steady_timer accept_pause{io};
  // The shares the thread keeps open (share_files.h): the home folder's
  // watch, and a timer that runs only while some are kept.
  asio::posix::stream_descriptor home_watch{io};
  asio::steady_timer share_release{io};
  bool releasing = false;
  std::thread thread;
};

struct HttpServer::Engine {
  Engine(HttpServer& owner, const HttpServerOptions& options)
      : server(owner),
        admission(platform::Admission::Create(
            {static_cast<std::size_t>(std::max(1, options.connections_per_address)),
             static_cast<std::size_t>(std::max(1, options.connections_per_network)),
             static_cast<std::size_t>(std::max(1, options.max_connections))})),
        head_limit(std::max(1, options.head_time_limit_ms)),
        slow_window(std::max(1, options.slow_window_ms)),
        min_bytes_per_window(static_cast<std::uint64_t>(std::max(0, options.min_bytes_per_second)) *
                             static_cast<std::uint64_t>(std::max(1, options.slow_window_ms)) /
                             1000) {}
  void Accept(Loop& loop);

  HttpServer& server;
  std::vector<std::unique_ptr<Loop>> loops;
  std::shared_ptr<platform::Admission> admission;
  // Unset without a certificate: a TLS handshake then only closes.
  std::shared_ptr<asio::ssl::context> tls;
  std::atomic<bool> stopping{false};
  const std::chrono::milliseconds head_limit;
  const std::chrono::milliseconds slow_window;
  const std::uint64_t min_bytes_per_window;
};

namespace {

void WaitForHomeChanges(Loop& loop) {
  loop.home_watch.async_wait(asio::posix::stream_descriptor::wait_read,
                             [&loop](const asio::error_code& e) {
                               if (e) return;
                               alignas(inotify_event) char events[4096];
                               while (::read(loop.home_watch.native_handle(), events,
                                             sizeof events) > 0) {
                               }
                               ForgetKeptShares();
                               WaitForHomeChanges(loop);
                             });
}

void ReleaseSharesLater(Loop& loop) {
  loop.releasing = true;
  loop.share_release.expires_after(1s);
  loop.share_release.async_wait([&loop](const asio::error_code& e) {
    loop.releasing = false;
    if (!e && ReleaseKeptShares()) ReleaseSharesLater(loop);
  });
}

// One connection, from accept to close, on its own strand.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(HttpServer::Engine& engine, Loop& loop, tcp::socket socket)
      : engine_(engine),
        loop_(loop),
        executor_(socket.get_executor()),
        socket_(std::move(socket)),
        timer_(executor_),
        buffer_(kHeadLimit + 1024) {}

  void Start(platform::Admission::Ticket ticket, std::string peer) {
    ticket_ = std::move(ticket);
    exchange_.peer = std::move(peer);
    ArmTimer(engine_.head_limit, &Session::Close);
    Detect();
  }

  // From any thread (admission evicts from the accepting one).
  void CloseSoon() {
    asio::post(executor_, [self = shared_from_this()] { self->Close(); });
  }

 private:
  template <typename F>
  void WithStream(F&& use) {
    if (tls_) {
      use(*tls_);
    } else {
      use(socket_);
    }
  }
  tcp::socket& Lowest() { return tls_ ? tls_->next_layer() : socket_; }

  // One timer per connection, set for the nearest deadline. Moving the
  // deadline later, as every request does, costs nothing: the timer looks
  // again when it fires. Only an earlier deadline sets it anew.
  void ArmTimer(std::chrono::milliseconds after, void (Session::*expired)()) {
    deadline_ = Clock::now() + after;
    expired_ = expired;
    if (!timer_waiting_ || deadline_ < timer_at_) WaitTimer();
  }
  void StopTimer() { expired_ = nullptr; }
  void WaitTimer() {
    const std::uint64_t generation = ++timer_generation_;
    timer_at_ = deadline_;
    timer_waiting_ = true;
    timer_.expires_at(timer_at_);
    timer_.async_wait([self = shared_from_this(), generation](const asio::error_code& e) {
      if (generation != self->timer_generation_) return;  // set anew since
      self->timer_waiting_ = false;
      if (e || self->closed_ || !self->expired_) return;
      if (Clock::now() < self->deadline_) return self->WaitTimer();
      ((*self).*std::exchange(self->expired_, nullptr))();
    });
  }

  void Progress(std::size_t bytes) {
    progress_ += bytes;
    ticket_.Touch();
  }

  // A slow body holds its place for nothing: too little in a whole window
  // ends the connection.
  void ArmRateWindow() {
    window_mark_ = progress_;
    ArmTimer(engine_.slow_window, &Session::CheckRate);
  }
  void CheckRate() {
    if (progress_ - window_mark_ < engine_.min_bytes_per_window) {
      platform::Trace("httpd: a body moved %llu bytes in %lld ms; closing",
                      static_cast<unsigned long long>(progress_ - window_mark_),
                      static_cast<long long>(engine_.slow_window.count()));
      Close();
      return;
    }
    ArmRateWindow();
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    StopTimer();
    timer_.cancel();
    asio::error_code ignored;
    Lowest().close(ignored);
    ticket_.Release();
  }

  // The first byte tells: 0x16 opens a TLS handshake, anything else is HTTP.
  void Detect() {
    beast::async_detect_ssl(
        socket_, buffer_, [self = shared_from_this()](const asio::error_code& e, bool is_tls) {
          if (self->closed_) return;
          if (e) return self->Close();
          if (!is_tls) return self->ReadHead();
          if (!self->engine_.tls) return self->Close();
          self->exchange_.tls = true;
          self->tls_ = std::make_unique<asio::ssl::stream<tcp::socket>>(std::move(self->socket_),
                                                                         *self->engine_.tls);
          self->tls_->async_handshake(
              asio::ssl::stream_base::server, self->buffer_.data(),
              [self](const asio::error_code& e2, std::size_t used) {
                if (self->closed_) return;
                if (e2) return self->Close();
                self->buffer_.consume(used);
                self->ReadHead();
              });
        });
  }

  void ReadHead() {
    parser_.emplace();
    LimitParser(*parser_);
    WithStream([&](auto& stream) {
      http::async_read_header(stream, buffer_, *parser_,
                              [self = shared_from_this()](const asio::error_code& e, std::size_t) {
                                self->OnHead(e);
                              });
    });
  }

  void OnHead(const asio::error_code& e) {
    if (closed_) return;
    const HeadVerdict verdict = e ? VerdictForError(e) : TakeHead(*parser_, exchange_);
    if (verdict == HeadVerdict::kGone) return Close();
    ticket_.Touch();
    if (verdict != HeadVerdict::kTaken) {
      StopTimer();
      exchange_.Reset();
      exchange_.close_after = true;
      exchange_.Send(RefusalAnswer(verdict));
      return StartAnswer();
    }
    body_unread_ = false;
    if (!parser_->is_done()) {
      const char* connection = exchange_.Header("Connection");
      const bool asked = connection && beast::iequals(connection, "keep-alive");
      const auto length = parser_->content_length();
      if (asked && (!length || *length <= kDrainLimit)) {
        ArmRateWindow();
        return DrainBody();
      }
      exchange_.may_keep_alive = false;
      body_unread_ = true;
    }
    Handle();
  }

  // Nothing is ever written: a body is read only to keep the connection.
  void DrainBody() {
    if (!scratch_) scratch_ = std::make_unique<char[]>(kScratch);
    parser_->get().body().data = scratch_.get();
    parser_->get().body().size = kScratch;
    WithStream([&](auto& stream) {
      http::async_read_some(
          stream, buffer_, *parser_,
          [self = shared_from_this()](asio::error_code e, std::size_t n) {
            if (self->closed_) return;
            if (e == http::error::need_buffer) e = {};
            self->Progress(n);
            if (e) {
              const HeadVerdict verdict = VerdictForError(e);
              if (verdict == HeadVerdict::kGone) return self->Close();
              self->StopTimer();
              self->exchange_.Reset();
              self->exchange_.close_after = true;
              self->exchange_.Send(RefusalAnswer(HeadVerdict::kBad));
              return self->StartAnswer();
            }
            if (self->parser_->is_done()) return self->Handle();
            self->DrainBody();
          });
    });
  }

  void Handle() {
    if (closed_) return;
    StopTimer();
    exchange_.retry_later = false;
    exchange_.pieces().clear();
    engine_.server.HandleRequest(exchange_);
    if (!loop_.releasing && KeepingShares()) ReleaseSharesLater(loop_);
    if (exchange_.retry_later) {
      exchange_.pieces().clear();
      ArmTimer(std::chrono::duration_cast<std::chrono::milliseconds>(kListingRetry),
               &Session::Handle);
      return;
    }
    if (body_unread_) exchange_.close_after = true;
    StartAnswer();
  }

  void StartAnswer() {
    // A closing connection's last segment leaves with its FIN; one kept
    // open must not wait for the client's delayed ACK.
    if (!no_delay_ && (tls_ || !exchange_.close_after)) {
      asio::error_code ignored;
      Lowest().set_option(tcp::no_delay(true), ignored);
      no_delay_ = true;
    }
    ArmRateWindow();
    SendNext();
  }

  void Written(const asio::error_code& e, std::size_t n) {
    if (closed_) return;
    Progress(n);
    if (e) return Close();
    SendNext();
  }

  void Write(asio::const_buffer bytes) {
    WithStream([&](auto& stream) {
      asio::async_write(stream, bytes,
                        [self = shared_from_this()](const asio::error_code& e, std::size_t n) {
                          self->Written(e, n);
                        });
    });
  }

  // `head`, then `length` bytes of `fd` from `offset`, into `file_bytes_`
  // (never zeroed first: the file's bytes cover it); false when the file has
  // shrunk (the length announced cannot be kept).
  bool FillFileBytes(std::string_view head, int fd, std::uint64_t offset, std::size_t length) {
    const std::size_t size = head.size() + length;
    if (size > file_bytes_capacity_) {
      file_bytes_ = std::make_unique_for_overwrite<char[]>(size);
      file_bytes_capacity_ = size;
    }
    if (!head.empty()) std::memcpy(file_bytes_.get(), head.data(), head.size());
    std::size_t got = 0;
    while (got < length) {
      const ssize_t n = ::pread(fd, file_bytes_.get() + head.size() + got, length - got,
                                static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    file_bytes_size_ = size;
    return true;
  }

  // A file small enough (or any file over TLS) leaves from memory, a piece
  // at a time, its head in front of the first piece.
  void SendFileBytes(AnswerPiece& piece, std::string_view head) {
    const std::size_t take = static_cast<std::size_t>(
        std::min<std::uint64_t>(piece.length, tls_ ? kTlsPiece : kInlineFile));
    if (!FillFileBytes(head, piece.file->get(), piece.offset, take)) return Close();
    piece.bytes.clear();
    piece.offset += take;
    piece.length -= take;
    if (piece.length == 0) piece.file.reset();
    Write(asio::buffer(file_bytes_.get(), file_bytes_size_));
  }

  void SendNext() {
    if (closed_) return;
    if (engine_.stopping.load(std::memory_order_relaxed)) return Close();
    auto& pieces = exchange_.pieces();
    while (!pieces.empty()) {
      AnswerPiece& piece = pieces.front();
      if (!piece.bytes.empty()) {
        if (piece.file && (piece.length <= kInlineFile || tls_))
          return SendFileBytes(piece, piece.bytes);
        out_ = std::move(piece.bytes);
        piece.bytes.clear();
        return Write(asio::buffer(out_));
      }
      if (piece.file && piece.length > 0) {
        if (tls_) return SendFileBytes(piece, {});
        return SendFilePiece(piece);
      }
      if (piece.more) {
        out_.clear();
        if (!piece.more(out_)) piece.more = nullptr;
        if (!out_.empty()) return Write(asio::buffer(out_));
        continue;
      }
      pieces.pop_front();
    }
    AfterAnswer();
  }

  // The kernel copies the file to the socket this connection owns.
  void SendFilePiece(AnswerPiece& piece) {
    if (!socket_.native_non_blocking()) socket_.native_non_blocking(true);
    auto offset = static_cast<off_t>(piece.offset);
    while (true) {
      const ssize_t sent =
          ::sendfile(socket_.native_handle(), piece.file->get(), &offset,
                     static_cast<std::size_t>(std::min(piece.length, kFilePiece)));
      if (sent > 0) {
        piece.offset += static_cast<std::uint64_t>(sent);
        piece.length -= static_cast<std::uint64_t>(sent);
        if (piece.length == 0) piece.file.reset();
        Progress(static_cast<std::size_t>(sent));
        asio::post(executor_, [self = shared_from_this()] { self->SendNext(); });
        return;
      }
      if (sent == 0) return Close();  // the file shrank under us
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return Close();
      socket_.async_wait(tcp::socket::wait_write,
                         [self = shared_from_this()](const asio::error_code& e) {
                           if (self->closed_) return;
                           if (e) return self->Close();
                           self->SendNext();
                         });
      return;
    }
  }

  void AfterAnswer() {
    if (exchange_.close_after) return FinishAndClose();
    // An idle connection keeps what a small file needs, not a TLS piece.
    if (file_bytes_capacity_ > kInlineFile + 4096) {
      file_bytes_.reset();
      file_bytes_capacity_ = 0;
    }
    exchange_.Reset();
    ArmTimer(engine_.head_limit, &Session::Close);
    ReadHead();
  }

  void FinishAndClose() {
    if (tls_) {
      // close_notify first, so that the client reads a clean end.
      ArmTimer(std::chrono::duration_cast<std::chrono::milliseconds>(kLinger), &Session::Close);
      tls_->async_shutdown([self = shared_from_this()](const asio::error_code&) { self->Close(); });
      return;
    }
    // Nothing more from the client, as a client that asked for the close
    // sends nothing: the close can neither reset the answer nor cut a
    // request short, so it goes now and costs the client no wait.
    int unread = 0;
    if (buffer_.size() == 0 && !body_unread_ &&
        ::ioctl(socket_.native_handle(), FIONREAD, &unread) == 0 && unread == 0) {
      return Close();
    }
    asio::error_code e;
    Lowest().shutdown(tcp::socket::shutdown_send, e);
    if (e) return Close();
    ArmTimer(std::chrono::duration_cast<std::chrono::milliseconds>(kLinger), &Session::Close);
    Discard();
  }

  void Discard() {
    if (!scratch_) scratch_ = std::make_unique<char[]>(kScratch);
    Lowest().async_read_some(asio::buffer(scratch_.get(), kScratch),
                             [self = shared_from_this()](const asio::error_code& e, std::size_t) {
                               if (self->closed_) return;
                               if (e) return self->Close();
                               self->Discard();
                             });
  }

  using Clock = std::chrono::steady_clock;
  HttpServer::Engine& engine_;
  Loop& loop_;
  asio::any_io_executor executor_;
  tcp::socket socket_;
  std::unique_ptr<asio::ssl::stream<tcp::socket>> tls_;
  asio::steady_timer timer_;
  std::uint64_t timer_generation_ = 0;
  Clock::time_point deadline_;
  Clock::time_point timer_at_;
  void (Session::*expired_)() = nullptr;
  bool timer_waiting_ = false;
  bool no_delay_ = false;
  beast::flat_buffer buffer_;
  std::optional<RequestParser> parser_;
  Exchange exchange_;
  std::string out_;
  std::unique_ptr<char[]> file_bytes_;
  std::size_t file_bytes_capacity_ = 0;
  std::size_t file_bytes_size_ = 0;
  std::unique_ptr<char[]> scratch_;
  platform::Admission::Ticket ticket_;
  std::uint64_t progress_ = 0;
  std::uint64_t window_mark_ = 0;
  bool body_unread_ = false;
  bool closed_ = false;
};

}  // namespace

void HttpServer::Engine::Accept(Loop& loop) {
  loop.acceptor.async_accept(loop.io, loop.peer, [this, &loop](const asio::error_code& e,
                                                              tcp::socket socket) {
    if (e == asio::error::operation_aborted || !loop.acceptor.is_open()) return;
    if (e) {
      // Out of descriptors, most likely: try again shortly instead of spinning.
      platform::Trace("httpd: accept failed: %s", e.message().c_str());
      loop.accept_pause.expires_after(50ms);
      loop.accept_pause.async_wait([this, &loop](const asio::error_code& e2) {
        if (!e2) Accept(loop);
      });
      return;
    }
    const asio::ip::address address = loop.peer.address();
    auto session = std::make_shared<Session>(*this, loop, std::move(socket));
    auto ticket = admission->Admit(address, [weak = std::weak_ptr<Session>(session)] {
      if (auto held = weak.lock()) held->CloseSoon();
    });
    // Refused: the session goes, and its socket closes, right here.
    if (ticket) session->Start(std::move(ticket), address.to_string());
    Accept(loop);
  });
}

bool FtpCharsetIsUtf8(const std::optional<std::string>& setting) {
  return setting && *setting == "UTF-8";
}

HttpServer::HttpServer() = default;
HttpServer::~HttpServer() { StopHttpServer(); }

bool HttpServer::StartHttpServer(const HttpServerOptions& options, std::string* failure_message) {
  auto fail = [&](std::string text) {
    if (failure_message) *failure_message = Clip200(std::move(text));
    return false;
  };
  std::lock_guard lock(mutex_);
  if (engine_) return fail(kStartFailedText);

  std::error_code error;
  if (!std::filesystem::is_directory(options.document_root, error)) {
    if (!error) error = std::make_error_code(std::errc::not_a_directory);
    char text[200];
    std::snprintf(text, sizeof text, "Invalid root directory: [%s]: %s",
                  options.document_root.c_str(), error.message().c_str());
    return fail(text);
  }
  if (!ValidPortText(options.port_text) || options.num_threads < 1) {
    return fail(kStartFailedText);
  }
  asio::error_code bad_address;
  const auto port = static_cast<unsigned short>(std::stoi(options.port_text));
  tcp::endpoint endpoint(tcp::v6(), port);
  if (!options.listen_address.empty()) {
    endpoint = tcp::endpoint(asio::ip::make_address(options.listen_address, bad_address), port);
    if (bad_address) return fail(kStartFailedText);
  }
  const int home_fd = OpenHomeFolder(options.document_root);
  if (home_fd < 0) return fail(kStartFailedText);

  auto engine = std::make_unique<Engine>(*this, options);
  const int loop_count = std::clamp(options.num_threads, 1, 2);
  for (int i = 0; i < loop_count; ++i) engine->loops.push_back(std::make_unique<Loop>());
  // Each loop listens on a socket of its own, all in one SO_REUSEPORT group:
  // the kernel spreads the connections over them and wakes one loop for each.
  // The group would also let another server of this user share the port, so
  // a plain bind goes first: it fails while anyone listens there.
  auto bind = [](tcp::acceptor& acceptor, const tcp::endpoint& where, bool group) {
    asio::error_code e;
    acceptor.close(e);
    acceptor.open(where.protocol(), e);
    if (e) return false;
    // Every local address means both families on one socket.
    if (where.address().is_v6() && where.address().is_unspecified())
      acceptor.set_option(asio::ip::v6_only(false), e);
    acceptor.set_option(tcp::acceptor::reuse_address(true), e);
    if (group) {
      const int on = 1;
      if (::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)
        return false;
    }
    acceptor.bind(where, e);
    return !e;
  };
  auto open = [&](const tcp::endpoint& where) {
    const bool group = engine->loops.size() > 1;
    if (group) {
      tcp::acceptor probe(engine->loops.front()->io);
      if (!bind(probe, where, false)) return false;
    }
    for (auto& loop : engine->loops) {
      asio::error_code e;
      if (!bind(loop->acceptor, where, group)) return false;
      loop->acceptor.listen(asio::socket_base::max_listen_connections, e);
      if (e) return false;
    }
    return true;
  };
  bool listening = open(endpoint);
  if (!listening && options.listen_address.empty()) listening = open(tcp::endpoint(tcp::v4(), port));
  if (!listening) {
    ::close(home_fd);
    return fail(kStartFailedText);
  }

  if (options.serve_tls) {
    std::string why;
    const std::string folder =
        options.tls_folder.empty() ? platform::TlsIdentityFolder() : options.tls_folder;
    auto identity = platform::LoadOrMakeTlsIdentity(folder, "", "", "", &why);
    if (identity) engine->tls = platform::MakeTlsServerContext(*identity, &why);
    if (engine->tls) {
      platform::Trace("httpd: HTTPS on the same port, certificate %s",
                      identity->fingerprint_sha256.c_str());
    } else {
      platform::Trace("httpd: no HTTPS: %s", why.c_str());
    }
  }

  options_ = options;
  home_fd_ = home_fd;
  engine_ = std::move(engine);
  for (auto& loop : engine_->loops) {
    engine_->Accept(*loop);
    UniqueFd watch = WatchHomeFolder(home_fd);
    if (watch) {
      asio::error_code ignored;
      loop->home_watch.assign(watch.release(), ignored);
      WaitForHomeChanges(*loop);
    }
    loop->thread = std::thread([io = &loop->io, keep = loop->home_watch.is_open()] {
      // sendfile has no MSG_NOSIGNAL: a client gone in the middle of a file
      // raises SIGPIPE, whose default ends the whole program, and the desktop
      // program holds this server too. Blocked here, it stays pending on this
      // thread and the call fails with EPIPE.
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
      if (keep) KeepSharesOnThisThread();
      auto work = asio::make_work_guard(*io);
      io->run();
    });
  }
  platform::Trace("httpd: serving %s on port %s", options.document_root.c_str(),
                  options.port_text.c_str());
  return true;
}

void HttpServer::StopHttpServer() {
  std::lock_guard lock(mutex_);
  if (!engine_) return;
  // Transfers see the flag at their next piece; the loop ends after the
  // handlers running now, and the connections close as the loop goes.
  engine_->stopping = true;
  for (auto& loop : engine_->loops) loop->io.stop();
  for (auto& loop : engine_->loops) loop->thread.join();
  engine_.reset();
  ::close(home_fd_);
  home_fd_ = -1;
}

bool HttpServer::Running() const {
  std::lock_guard lock(mutex_);
  return engine_ != nullptr;
}

}  // namespace quarno::httpd
