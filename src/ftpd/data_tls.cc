// The TLS side of DataChannel (PROT P): the handshake after the 150, the check
// that it resumed the control connection's session, file sends through the TLS
// engine and the close_notify before the final reply.
#include <unistd.h>

#include "core/log.h"
#include "ftpd/data_channel.h"
#include "ftpd/ftp_tls.h"

namespace quarno::ftpd {
namespace {
constexpr size_t kTlsFileChunk = 256 << 10;
}

void DataChannel::Protect(std::shared_ptr<asio::ssl::context> context, std::string session_id) {
  tls_context_ = std::move(context);
  tls_session_ = std::move(session_id);
}

void DataChannel::SecureThenRun() {
  uint64_t gen = transfer_->generation;
  Announce();
  if (!Current(gen) || !data_) return;
  tls_ = std::make_shared<TlsDataStream>(std::move(*data_), *tls_context_);
  data_.reset();
  // A data connection lives on its control connection's session: no ticket of its own.
  SSL_set_num_tickets(tls_->native_handle(), 0);
  tls_->async_handshake(
      asio::ssl::stream_base::server,
      [self = shared_from_this(), gen, keep = tls_](const asio::error_code& ec) {
        if (!self->Current(gen)) return;
        if (ec) return self->Finish(522, "TLS handshake on the data connection failed.");
        self->tls_up_ = true;
        // Anyone who can reach the passive port could otherwise take the transfer
        // with a TLS session of their own.
        if (!ResumesSession(keep->native_handle(), self->tls_session_)) {
          WriteLog("FTP %u: data connection without the control connection's TLS session refused",
                   self->session_id_);
          return self->Finish(
              522, "Data connections must resume the TLS session of the control connection.");
        }
        self->last_progress_ = Clock::now();
        if (self->PrepareUpload()) self->Run();
      });
}

void DataChannel::SendTlsFileChunk(uint64_t gen) {
  Transfer& t = *transfer_;
  if (t.buffer.size() < kTlsFileChunk) t.buffer.resize(kTlsFileChunk);
  ssize_t n =
      ::pread(t.request.fd, t.buffer.data(), t.buffer.size(), static_cast<off_t>(t.request.offset));
  if (n < 0) return Finish(451, "Error reading the file.");
  if (n == 0) return Finish(226, "Successfully transferred " + t.request.quoted);
  t.request.offset += static_cast<uint64_t>(n);
  Write(asio::buffer(t.buffer.data(), static_cast<size_t>(n)),
        [self = shared_from_this(), gen](const asio::error_code& ec, size_t w) {
          if (!self->Current(gen)) return;
          if (ec) return self->Finish(426, "Connection closed; transfer aborted.");
          self->transfer_->bytes += w;
          self->last_progress_ = Clock::now();
          self->SendTlsFileChunk(gen);
        });
}

// A transfer ends with close_notify both ways, so the client can tell the end
// of the data from a cut connection (and reads the final reply in peace).
bool DataChannel::CloseTlsFirst(int code, const std::string& text) {
  if (!tls_ || !tls_up_ || tls_closing_ || !transfer_) return false;
  tls_closing_ = true;
  tls_closing_since_ = Clock::now();
  tls_final_code_ = code;
  tls_final_text_ = text;
  uint64_t gen = transfer_->generation;
  tls_->async_shutdown([self = shared_from_this(), gen, keep = tls_](const asio::error_code&) {
    if (self->Current(gen)) self->Finish(self->tls_final_code_, self->tls_final_text_);
  });
  return true;
}

}  // namespace quarno::ftpd
