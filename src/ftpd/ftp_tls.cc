#include "ftpd/ftp_tls.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>

#include "core/log.h"

namespace quarno::ftpd {
namespace {

std::string Upper(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

TlsVerdict Say(int code, std::string text) { return {TlsAction::kReply, code, std::move(text)}; }

}  // namespace

bool IsTlsVerb(std::string_view verb) {
  return verb == "AUTH" || verb == "PBSZ" || verb == "PROT" || verb == "CCC";
}

TlsVerdict HandleTlsCommand(const TlsPolicy& policy, TlsCommandState& state, std::string_view verb,
                            std::string_view arg) {
  if (!policy.available) return Say(502, "TLS is not available on this server.");
  const std::string a = Upper(arg);
  if (verb == "AUTH") {
    if (a != "TLS" && a != "TLS-C" && a != "SSL") return Say(504, "Unknown AUTH type; use AUTH TLS.");
    // A second handshake over the first is a confused or hostile client.
    if (state.secure) return {TlsAction::kClose, 503, "Already using TLS."};
    if (state.logged_in) return Say(503, "AUTH TLS must come before login.");
    state.secure = true;
    state.pbsz = state.protect = false;
    return {TlsAction::kStartTls, 234, "Using authentication type TLS."};
  }
  if (verb == "PBSZ") {
    if (!state.secure) return Say(503, "PBSZ needs AUTH TLS first.");
    if (a.empty() || a.size() > 10 || !std::all_of(a.begin(), a.end(), [](char c) {
          return c >= '0' && c <= '9';
        }))
      return Say(501, "PBSZ takes a number.");
    state.pbsz = true;
    return Say(200, "PBSZ=0");
  }
  if (verb == "PROT") {
    if (!state.secure) return Say(503, "PROT needs AUTH TLS first.");
    if (!state.pbsz) return {TlsAction::kClose, 503, "PROT needs PBSZ first."};
    if (a == "P") {
      state.protect = true;
      return Say(200, "Protection level set to P.");
    }
    if (a == "C") {
      if (policy.force_prot_p) return Say(534, "Data connections must be encrypted (PROT P).");
      state.protect = false;
      return Say(200, "Protection level set to C.");
    }
    if (a == "S" || a == "E") return Say(536, "Only PROT C and PROT P are supported.");
    return Say(504, "Unknown protection level.");
  }
  // CCC: the password is behind us, but the commands that follow are not.
  return Say(534, "The control connection stays encrypted.");
}

void FtpTls::Apply(const GeneralOptions& o) {
  policy_ = TlsPolicy{};
  bool wanted = o.Number(ftpctl::OPTION_ENABLESSL) != 0 && o.Number(ftpctl::OPTION_ALLOWEXPLICITSSL) != 0;
  if (!wanted) return;
  const std::string& cert = o.Text(ftpctl::OPTION_SSLCERTFILE);
  const std::string& key = o.Text(ftpctl::OPTION_SSLKEYFILE);
  const std::string& pass = o.Text(ftpctl::OPTION_SSLKEYPASS);
  std::string naming = cert + '\n' + key + '\n' + pass;
  if (!context_ || naming != loaded_key_) {
    context_.reset();
    fingerprint_.clear();
    std::string error;
    auto identity = platform::LoadOrMakeTlsIdentity(folder_, cert, key, pass, &error);
    if (identity) context_ = platform::MakeTlsServerContext(*identity, &error);
    if (!context_) {
      WriteLog("FTP over TLS not available: %s", error.c_str());
      return;
    }
    loaded_key_ = naming;
    fingerprint_ = identity->fingerprint_sha256;
    WriteLog("TLS certificate %s, SHA-256 fingerprint %s", identity->certificate_file.c_str(),
             fingerprint_.c_str());
  }
  policy_.available = true;
  policy_.force_explicit = o.Number(ftpctl::OPTION_SSLFORCEEXPLICIT) != 0;
  policy_.force_prot_p = o.Number(ftpctl::OPTION_FORCEPROTP) != 0;
}

std::string SessionIdOf(SSL* ssl) {
  SSL_SESSION* session = ssl ? SSL_get_session(ssl) : nullptr;
  if (!session) return {};
  unsigned int length = 0;
  const unsigned char* id = SSL_SESSION_get_id(session, &length);
  return std::string(reinterpret_cast<const char*>(id), length);
}

bool ResumesSession(SSL* data, const std::string& control_id) {
  return data && !control_id.empty() && SSL_session_reused(data) == 1 &&
         SessionIdOf(data) == control_id;
}

}  // namespace quarno::ftpd
