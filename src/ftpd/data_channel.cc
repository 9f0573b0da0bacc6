#include "ftpd/data_channel.h"

#include "ftpd/doors.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "core/log.h"
#include "ftpd/vfs.h"

namespace quarno::ftpd {
namespace {

using asio::ip::tcp;

constexpr size_t kSendfileTurn = 8 << 20;  // bytes per loop turn before others get a go
constexpr size_t kIoBuffer = 256 << 10;
constexpr size_t kAsciiBuffer = 64 << 10;
constexpr int kDataConnectSeconds = 30;
constexpr int kTlsCloseSeconds = 5;  // for the client's close_notify
constexpr int kListingStepsPerTurn = 4;

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

const char* kAborted = "Connection closed; transfer aborted.";

}  // namespace

asio::ip::address PlainAddress(const asio::ip::address& a) {
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
  return a;
}

DataChannel::DataChannel(asio::io_context& io, std::weak_ptr<Listener> listener,
                         asio::ip::address peer, asio::ip::address local, uint32_t session_id)
    : io_(io),
      listener_(std::move(listener)),
      peer_(std::move(peer)),
      local_(std::move(local)),
      session_id_(session_id) {}

DataChannel::~DataChannel() { Drop(); }

void DataChannel::Reset() {
  Drop();
  asio::error_code ec;
  if (passive_) passive_->close(ec);
  passive_.reset();
  passive_slot_.reset();
  if (data_) data_->close(ec);
  data_.reset();
  if (tls_) tls_->lowest_layer().close(ec);
  tls_.reset();
  tls_up_ = tls_closing_ = false;
  active_.reset();
  connecting_ = false;
}

void DataChannel::Drop() {
  if (!transfer_) return;
  if (transfer_->request.fd >= 0) ::close(transfer_->request.fd);
  transfer_.reset();
  waiting_ = false;
  asio::error_code ec;
  if (data_) data_->close(ec);
  data_.reset();
  if (tls_) tls_->lowest_layer().close(ec);
  tls_.reset();
  tls_up_ = tls_closing_ = false;
}

bool DataChannel::Listen(uint16_t min, uint16_t max, uint16_t& port) {
  Reset();
  auto acceptor = std::make_unique<tcp::acceptor>(io_);
  asio::error_code ec;
  tcp::endpoint ep(local_, 0);
  acceptor->open(ep.protocol(), ec);
  // Each download's data connection is ended here and leaves its port in
  // TIME_WAIT for a minute; without this a small range is used up by a
  // folder of small files. It never lets two listeners share a port.
  if (!ec) acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec && min > 0 && max >= min) {
    // A random start spreads sessions over the range, so a port a client
    // just left is not handed out again at once.
    unsigned span = max - min + 1u;
    unsigned start = std::random_device{}() % span;
    for (unsigned i = 0; i < span; ++i) {
      ep.port(static_cast<uint16_t>(min + (start + i) % span));
      acceptor->bind(ep, ec);
      if (!ec) break;
    }
  } else if (!ec) {
    acceptor->bind(ep, ec);
  }
  if (!ec) acceptor->listen(1, ec);
  if (ec) return false;
  port = acceptor->local_endpoint(ec).port();
  passive_ = std::move(acceptor);
  listened_at_ = Clock::now();
  stranger_logged_ = false;
  Accept();
  return true;
}

void DataChannel::Target(const tcp::endpoint& target) {
  Reset();
  active_ = target;
}

void DataChannel::Accept() {
  if (!passive_) return;
  passive_->async_accept([self = shared_from_this(), acceptor = passive_.get()](
                             const asio::error_code& ec, tcp::socket socket) {
    if (ec || self->passive_.get() != acceptor) return;
    asio::error_code rec;
    auto remote = socket.remote_endpoint(rec);
    if (rec || PlainAddress(remote.address()) != self->peer_) {
      // Only the client itself may connect; anyone else is turned away. Once
      // in the log per listener: strangers may knock as often as they like.
      if (!self->stranger_logged_)
        WriteLog("FTP %u: refused data connection from %s", self->session_id_,
                 rec ? "?" : remote.address().to_string().c_str());
      self->stranger_logged_ = true;
      socket.close(rec);
      self->Accept();
      return;
    }
    self->data_.emplace(std::move(socket));
    self->passive_->close(rec);
    self->passive_slot_.reset();
    if (self->transfer_ && self->waiting_) self->ConnectionReady();
  });
}

bool DataChannel::Begin(TransferRequest request) {
  if (!passive_ && !data_ && !active_) {
    if (request.fd >= 0) ::close(request.fd);
    return false;
  }
  Transfer t;
  t.request = std::move(request);
  t.generation = ++generation_;
  transfer_ = std::move(t);
  waiting_ = true;
  wait_started_ = Clock::now();
  if (data_) {
    ConnectionReady();
    return true;
  }
  if (active_ && !connecting_) {
    connecting_ = true;
    data_.emplace(io_);
    asio::error_code ec;
    data_->open(active_->protocol(), ec);
    if (!ec)
      data_->bind(
          tcp::endpoint(local_.is_v4() == active_->address().is_v4() ? local_ : asio::ip::address(),
                        0),
          ec);
    if (ec) {
      Finish(425, "Can't open data connection.");
      return true;
    }
    uint64_t gen = transfer_->generation;
    data_->async_connect(*active_, [self = shared_from_this(), gen](const asio::error_code& cec) {
      if (!self->Current(gen)) return;
      self->connecting_ = false;
      if (cec) return self->Finish(425, "Can't open data connection.");
      self->ConnectionReady();
    });
  }
  return true;
}

void DataChannel::ConnectionReady() {
  if (!transfer_ || !waiting_) return;
  waiting_ = false;
  // Clients begin the handshake once they see the 150.
  if (tls_context_) return SecureThenRun();
  if (!PrepareUpload()) return;
  uint64_t gen = transfer_->generation;
  Announce();
  if (Current(gen)) Run();
}

bool DataChannel::PrepareUpload() {
  TransferRequest& r = transfer_->request;
  auto fail = [this](int code, const char* text) {
    Finish(code, text);
    return false;
  };
  if (r.kind == TransferKind::kStor) {
    // Opened only now, so a failed data connection never truncates a file.
    int flags = O_WRONLY | O_CREAT;
    if (r.append) flags |= O_APPEND;
    if (r.truncate) flags |= O_TRUNC;
    r.fd = OpenResolved(r.real, flags, true);
    struct stat st {};
    if (r.fd < 0 || ::fstat(r.fd, &st) != 0) return fail(553, "Cannot create file.");
    if (!r.append && !r.truncate) {
      if (static_cast<uint64_t>(st.st_size) < r.offset)
        return fail(550, "Restart offset beyond file size.");
      // Resuming below the end rewrites what follows; append rights only extend.
      if (static_cast<uint64_t>(st.st_size) > r.offset && !r.may_rewrite)
        return fail(550, "Permission denied: the file may only be appended to.");
      if (::ftruncate(r.fd, static_cast<off_t>(r.offset)) != 0 ||
          ::lseek(r.fd, static_cast<off_t>(r.offset), SEEK_SET) < 0)
        return fail(451, "Cannot resume the file.");
    }
    transfer_->buffer.resize(kIoBuffer);
  }
  return true;
}

void DataChannel::Announce() {
  const TransferRequest& r = transfer_->request;
  const char* what =
      r.kind == TransferKind::kRetr   ? "Opening data channel for file download from server of "
      : r.kind == TransferKind::kStor ? "Opening data channel for file upload to server of "
                                      : "Opening data channel for directory listing of ";
  last_progress_ = Clock::now();
  if (auto listener = listener_.lock()) listener->OnDataReply(150, what + r.quoted);
}

void DataChannel::Run() {
  Transfer& t = *transfer_;
  uint64_t gen = t.generation;
  switch (t.request.kind) {
    case TransferKind::kListing:
      return SendListing(gen);
    case TransferKind::kRetr:
      if (t.request.ascii) {
        t.buffer.resize(kAsciiBuffer);
        return SendAsciiChunk(gen);
      }
      return SendFileChunk(gen);
    case TransferKind::kStor:
      return ReceiveChunk(gen);
  }
}

void DataChannel::SendListing(uint64_t gen) {
  if (!Current(gen)) return;
  Transfer& t = *transfer_;
  t.out.clear();
  // The source reads the session's file tree: only while the session lives.
  auto listener = listener_.lock();
  if (!listener) return Drop();
  // A few pages per write, and a bounded number of steps per loop turn (a
  // pattern may match nothing in a huge folder).
  for (int step = 0; step < kListingStepsPerTurn && !t.source_done && t.out.size() < 8192; ++step)
    if (!t.request.listing(t.out)) t.source_done = true;
  if (t.out.empty()) {
    if (t.source_done) return Finish(226, "Successfully transferred " + t.request.quoted);
    asio::post(io_, [self = shared_from_this(), gen] { self->SendListing(gen); });
    return;
  }
  Write(asio::buffer(t.out),
                    [self = shared_from_this(), gen](const asio::error_code& ec, size_t w) {
                      if (!self->Current(gen)) return;
                      if (ec) return self->Finish(426, kAborted);
                      self->transfer_->bytes += w;
                      self->last_progress_ = Clock::now();
                      // Back through the loop, so other sessions get their turn.
                      asio::post(self->io_, [self, gen] { self->SendListing(gen); });
                    });
}

void DataChannel::SendFileChunk(uint64_t gen) {
  if (!Current(gen)) return;
  if (tls_) return SendTlsFileChunk(gen);
  Transfer& t = *transfer_;
  asio::error_code ec;
  data_->native_non_blocking(true, ec);
  int out = data_->native_handle();
  size_t budget = kSendfileTurn;
  while (budget > 0) {
    off_t off = static_cast<off_t>(t.request.offset);
    ssize_t n = ::sendfile(out, t.request.fd, &off, std::min<size_t>(budget, 1 << 20));
    if (n > 0) {
      t.request.offset = static_cast<uint64_t>(off);
      t.bytes += static_cast<uint64_t>(n);
      budget -= static_cast<size_t>(n);
      last_progress_ = Clock::now();
      continue;
    }
    if (n == 0) return Finish(226, "Successfully transferred " + t.request.quoted);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      data_->async_wait(tcp::socket::wait_write,
                        [self = shared_from_this(), gen](const asio::error_code& wec) {
                          if (!self->Current(gen)) return;
                          if (wec) return self->Finish(426, kAborted);
                          self->SendFileChunk(gen);
                        });
      return;
    }
    return Finish(426, kAborted);
  }
  asio::post(io_, [self = shared_from_this(), gen] { self->SendFileChunk(gen); });
}

void DataChannel::SendAsciiChunk(uint64_t gen) {
  if (!Current(gen)) return;
  Transfer& t = *transfer_;
  ssize_t n =
      ::pread(t.request.fd, t.buffer.data(), t.buffer.size(), static_cast<off_t>(t.request.offset));
  if (n < 0) return Finish(451, "Error reading the file.");
  if (n == 0) return Finish(226, "Successfully transferred " + t.request.quoted);
  t.request.offset += static_cast<uint64_t>(n);
  t.out.clear();
  for (ssize_t i = 0; i < n; ++i) {
    char c = t.buffer[static_cast<size_t>(i)];
    if (c == '\n' && !t.pending_cr) t.out += '\r';
    t.out += c;
    t.pending_cr = c == '\r';
  }
  Write(asio::buffer(t.out),
                    [self = shared_from_this(), gen](const asio::error_code& ec, size_t w) {
                      if (!self->Current(gen)) return;
                      if (ec) return self->Finish(426, kAborted);
                      self->transfer_->bytes += w;
                      self->last_progress_ = Clock::now();
                      self->SendAsciiChunk(gen);
                    });
}

void DataChannel::ReceiveChunk(uint64_t gen) {
  if (!Current(gen)) return;
  Transfer& t = *transfer_;
  ReadSome(asio::buffer(t.buffer), [self = shared_from_this(), gen](
                                                     const asio::error_code& ec, size_t n) {
    if (!self->Current(gen)) return;
    Transfer& tr = *self->transfer_;
    int fd = tr.request.fd;
    if (n > 0) {
      bool ok;
      if (tr.request.ascii) {
        tr.out.clear();
        for (size_t i = 0; i < n; ++i) {
          char c = tr.buffer[i];
          if (tr.pending_cr && c != '\n') tr.out += '\r';
          tr.pending_cr = c == '\r';
          if (!tr.pending_cr) tr.out += c;
        }
        ok = WriteAll(fd, tr.out.data(), tr.out.size());
      } else {
        ok = WriteAll(fd, tr.buffer.data(), n);
      }
      if (!ok) return self->Finish(452, "Error writing the file: disk full or write error.");
      tr.bytes += n;
      self->last_progress_ = Clock::now();
    }
    // A TLS peer that just drops the connection ends its upload as a plain one does.
    if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) {
      if (tr.pending_cr && !WriteAll(fd, "\r", 1))
        return self->Finish(452, "Error writing the file.");
      return self->Finish(226, "Successfully transferred " + tr.request.quoted);
    }
    if (ec) return self->Finish(426, kAborted);
    self->ReceiveChunk(gen);
  });
}

void DataChannel::Finish(int code, const std::string& text) {
  if (CloseTlsFirst(code, text)) return;
  TransferKind kind = transfer_ ? transfer_->request.kind : TransferKind::kListing;
  Reset();
  if (auto listener = listener_.lock()) listener->OnTransferEnded(code, text, kind);
}

void DataChannel::CheckTimeouts(Clock::time_point now, int stall_seconds) {
  // A listener nobody used gives its port back rather than hold it for the
  // whole session time-out.
  if (passive_ && passive_->is_open() && !data_ && !transfer_ &&
      now - listened_at_ >= Doors::kPassiveUnusedLimit) {
    asio::error_code ec;
    passive_->close(ec);
    passive_.reset();
    passive_slot_.reset();
  }
  if (!transfer_) return;
  auto secs = [now](Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(now - t).count();
  };
  if (tls_closing_ && secs(tls_closing_since_) >= kTlsCloseSeconds)
    Finish(tls_final_code_, tls_final_text_);
  else if (waiting_ && secs(wait_started_) >= std::min(stall_seconds, kDataConnectSeconds))
    Finish(425, "Can't open data connection.");
  else if (!waiting_ && secs(last_progress_) >= stall_seconds)
    Finish(426, "Data connection timed out; transfer aborted.");
}

}  // namespace quarno::ftpd
