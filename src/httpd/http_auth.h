#pragma once
// HTTP authentication of the share's one account: Digest (RFC 7616, SHA-256
// and MD5, qop=auth) over any connection, Basic only over TLS, where the
// password does not travel in the clear. Free of any server, so the same
// checks serve either transport and can be fuzzed.
//
// Nonces carry their own issue time and a keyed tag, so the server keeps no
// table of them: a nonce is good for `kNonceLifetime` after it was issued and
// then answered with stale=true (the client retries without asking the user).
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarno::httpd {

inline constexpr char kAuthRealm[] = "mydomain.com";
inline constexpr std::chrono::seconds kNonceLifetime{300};

enum class AuthScheme { kNone, kBasic, kDigest, kOther };

// One Authorization header, split. Parameter names are lower-cased; values
// are unquoted (backslash escapes removed). Malformed input gives kOther.
struct AuthorizationHeader {
  AuthScheme scheme = AuthScheme::kNone;
  std::string basic_token;  // kBasic: the base64 text
  std::vector<std::pair<std::string, std::string>> params;  // kDigest
  const std::string* Param(std::string_view name) const;
};
AuthorizationHeader ParseAuthorization(std::string_view value);

// Makes and checks the nonces of one server (a random key per server run).
class NonceMint {
 public:
  NonceMint();
  std::string Issue(std::chrono::system_clock::time_point now) const;
  enum class Age { kFresh, kStale, kForged };
  Age Check(std::string_view nonce, std::chrono::system_clock::time_point now) const;

 private:
  std::array<std::uint8_t, 32> key_{};
};

enum class AuthOutcome {
  kMissing,  // no usable credentials: challenge, not a failed login
  kStale,    // right answer to an expired nonce: challenge with stale=true
  kWrong,    // a failed login
  kGood,
};

struct Credentials {
  std::string user;
  std::string password;
};

// `authorization`: every Authorization header of the request (two are
// refused). `target`: the request target as sent (path and query).
AuthOutcome CheckAuthorization(const std::vector<std::string_view>& authorization,
                               std::string_view method, std::string_view target, bool tls,
                               const std::optional<Credentials>& account, const NonceMint& mint,
                               std::chrono::system_clock::time_point now);

// The WWW-Authenticate header lines (each ending in CRLF) of a 401: Digest
// with SHA-256 first, then MD5, then Basic when over TLS.
std::string ChallengeHeaders(const NonceMint& mint, bool tls, bool stale,
                             std::chrono::system_clock::time_point now);

// The response a client computes (qop=auth); `sha256` false means MD5.
std::string DigestResponse(bool sha256, std::string_view user, std::string_view realm,
                           std::string_view password, std::string_view method,
                           std::string_view uri, std::string_view nonce, std::string_view nc,
                           std::string_view cnonce);

// Hex digests as Digest uses them.
std::string Md5Hex(std::string_view text);
std::string Sha256Hex(std::string_view text);

}  // namespace quarno::httpd
