// The TLS side of FtpSession: AUTH TLS on the control connection, and what
// the TLS settings refuse.
#include "core/log.h"
#include "ftpd/session.h"

namespace quarno::ftpd {

void FtpSession::DoTls(const Command& cmd) {
  tls_.state.logged_in = logged_in_;
  TlsVerdict verdict = HandleTlsCommand(server_.tls().policy(), tls_.state, cmd.verb, cmd.arg);
  switch (verdict.action) {
    case TlsAction::kReply:
      return Reply(verdict.code, verdict.text);
    case TlsAction::kClose:
      return Close(std::to_string(verdict.code) + " " + verdict.text);
    case TlsAction::kStartTls:
      // Lines behind AUTH came in clear, where anyone on the path could have put
      // them; none of them may run as if they had come through TLS.
      pending_lines_.clear();
      line_.clear();
      busy_ = true;
      tls_.starting = true;
      return Reply(verdict.code, verdict.text);  // the handshake follows once it has left
  }
}

void FtpSession::OnReadWhileStartingTls(const asio::error_code& ec, size_t n) {
  if (ec) return Close();
  tls_.early.append(read_buffer_.data(), n);
  MaybeStartTls();
}

// The handshake may begin only once the 234 has left and no plain read is
// under way: both would otherwise touch the socket beside the TLS engine.
void FtpSession::MaybeStartTls() {
  if (!tls_.starting || tls_.reading || writing_ || closing_ || tls_.stream) return;
  tls_.context = server_.tls().context();
  if (!tls_.context) return Close();  // TLS was switched off meanwhile
  tls_.stream = std::make_unique<TlsStream>(control_, *tls_.context);
  tls_.stream->async_handshake(
      asio::ssl::stream_base::server, asio::buffer(tls_.early),
      [self = shared_from_this()](const asio::error_code& ec, size_t) {
        if (self->closing_) return;
        if (ec) {
          WriteLog("FTP %u: TLS handshake with %s failed: %s", self->id_, self->address_.c_str(),
                   ec.message().c_str());
          return self->Close();
        }
        self->tls_.starting = false;
        self->tls_.early.clear();
        self->tls_.session_id = SessionIdOf(self->tls_.stream->native_handle());
        self->busy_ = false;
        self->ReadMore();
      });
}

bool FtpSession::TlsRefusesLogin() {
  const TlsPolicy& policy = server_.tls().policy();
  if (!policy.available || !policy.force_explicit || tls_.state.secure) return false;
  Reply(530, "This server requires FTP over TLS: send AUTH TLS before logging in.");
  return true;
}

bool FtpSession::TlsRefusesData() {
  if (tls_.state.protect && tls_.stream && !tls_.starting) {
    data_->Protect(tls_.context, tls_.session_id);
    return false;
  }
  data_->Protect(nullptr, {});
  const TlsPolicy& policy = server_.tls().policy();
  if (!policy.available || !policy.force_prot_p) return false;
  Reply(521, "Data connections must be encrypted: send PBSZ 0 and PROT P.");
  return true;
}

}  // namespace quarno::ftpd
