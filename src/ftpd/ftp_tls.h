#pragma once
// Explicit FTP over TLS: the server's TLS settings and context, the command
// rules of AUTH/PBSZ/PROT/CCC (kept free of sockets, so they can be fuzzed),
// and the check that a data connection resumes its control connection's session.
#include <memory>
#include <string>
#include <string_view>

#include "ftpd/options.h"
#include "platform/asio.h"
#include "platform/tls_identity.h"

namespace quarno::ftpd {

struct TlsPolicy {
  bool available = false;       // "Enable SSL" and "Allow explicit SSL", and a loaded identity
  bool force_explicit = false;  // "Force explicit SSL": no login without AUTH TLS
  bool force_prot_p = false;    // "Force PROT P": no data connection in clear
};

// Where a session stands in the RFC 4217 exchange.
struct TlsCommandState {
  bool secure = false;  // the control connection runs TLS
  bool pbsz = false;
  bool protect = false;  // PROT P
  bool logged_in = false;
};

enum class TlsAction { kReply, kStartTls, kClose };
struct TlsVerdict {
  TlsAction action = TlsAction::kReply;
  int code = 0;
  std::string text;
};

bool IsTlsVerb(std::string_view verb);  // AUTH PBSZ PROT CCC
// Answers one of those verbs and updates `state` (a kStartTls verdict's reply goes
// out in clear, then the handshake follows).
TlsVerdict HandleTlsCommand(const TlsPolicy& policy, TlsCommandState& state,
                            std::string_view verb, std::string_view arg);

// The daemon's TLS side, rebuilt from each option set; the identity is loaded once
// per certificate/key naming and its fingerprint logged.
class FtpTls {
 public:
  // `folder`: where the identity is made when the options name no files.
  explicit FtpTls(std::string folder) : folder_(std::move(folder)) {}
  void Apply(const GeneralOptions& options);
  const TlsPolicy& policy() const { return policy_; }
  // Null unless TLS is available.
  const std::shared_ptr<asio::ssl::context>& context() const { return context_; }
  const std::string& fingerprint() const { return fingerprint_; }

 private:
  std::string folder_;
  std::string loaded_key_;  // cert + key + password the context was made from
  std::shared_ptr<asio::ssl::context> context_;
  std::string fingerprint_;
  TlsPolicy policy_;
};

using TlsStream = asio::ssl::stream<asio::ip::tcp::socket&>;

// The session id of a finished server handshake; data connections must resume it.
std::string SessionIdOf(SSL* ssl);
// Whether the data connection's finished handshake resumed the session `control_id`.
bool ResumesSession(SSL* data, const std::string& control_id);

}  // namespace quarno::ftpd
