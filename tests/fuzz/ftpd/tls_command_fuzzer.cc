// The RFC 4217 commands in any order and with any arguments: the state never
// claims protection that was not negotiated, and TLS starts at most once.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ftpd/ftp_tls.h"

namespace ftpd = quarno::ftpd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  ftpd::TlsPolicy policy;
  policy.available = data[0] & 1;
  policy.force_explicit = data[0] & 2;
  policy.force_prot_p = data[0] & 4;
  ftpd::TlsCommandState state;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    const std::size_t space = line.find(' ');
    std::string_view verb = line.substr(0, space);
    std::string_view arg = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    if (!ftpd::IsTlsVerb(verb)) continue;
    const bool was_secure = state.secure;
    const ftpd::TlsVerdict verdict = ftpd::HandleTlsCommand(policy, state, verb, arg);
    if (verdict.action == ftpd::TlsAction::kStartTls) {
      if (was_secure || !policy.available) std::abort();
      state.secure = true;  // as the session does once the handshake is through
    }
    if (verdict.action == ftpd::TlsAction::kReply && (verdict.code < 100 || verdict.code > 599)) {
      std::abort();
    }
    if (state.protect && (!state.secure || !state.pbsz)) std::abort();
    if (verdict.action == ftpd::TlsAction::kClose) break;
  }
  return 0;
}
