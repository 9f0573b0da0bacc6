#include "httpd/http_auth.h"

#include <nettle/base64.h>
#include <nettle/hmac.h>
#include <nettle/md5.h>
#include <nettle/memops.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "platform/install_secret.h"

namespace quarno::httpd {
namespace {

constexpr std::size_t kNonceBytes = 8 + 16;  // issue time, tag

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool IsTokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

void SkipSpace(std::string_view text, std::size_t& i) {
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
}

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 15]);
  }
  return out;
}

std::string Base64UrlEncode(const std::uint8_t* bytes, std::size_t size) {
  std::string out(BASE64_ENCODE_LENGTH(size) + BASE64_ENCODE_FINAL_LENGTH, '\0');
  base64_encode_ctx ctx;
  base64url_encode_init(&ctx);
  std::size_t n = base64_encode_update(&ctx, out.data(), size, bytes);
  n += base64_encode_final(&ctx, out.data() + n);
  out.resize(n);
  while (!out.empty() && out.back() == '=') out.pop_back();
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text, bool url) {
  std::string out(BASE64_DECODE_LENGTH(text.size()) + 1, '\0');
  base64_decode_ctx ctx;
  if (url) {
    base64url_decode_init(&ctx);
  } else {
    base64_decode_init(&ctx);
  }
  std::size_t n = out.size();
  if (!base64_decode_update(&ctx, &n, reinterpret_cast<std::uint8_t*>(out.data()), text.size(),
                            text.data()) ||
      !base64_decode_final(&ctx)) {
    return std::nullopt;
  }
  out.resize(n);
  return out;
}

bool SameSecret(std::string_view a, std::string_view b) {
  // Hashed first, so the comparison takes the same time whatever the lengths.
  std::uint8_t da[SHA256_DIGEST_SIZE], db[SHA256_DIGEST_SIZE];
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, a.size(), reinterpret_cast<const std::uint8_t*>(a.data()));
  sha256_digest(&ctx, sizeof da, da);
  sha256_init(&ctx);
  sha256_update(&ctx, b.size(), reinterpret_cast<const std::uint8_t*>(b.data()));
  sha256_digest(&ctx, sizeof db, db);
  return memeql_sec(da, db, sizeof da) != 0;
}

std::string LowerText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

std::int64_t Seconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

}  // namespace

std::string Md5Hex(std::string_view text) {
  md5_ctx ctx;
  md5_init(&ctx);
  md5_update(&ctx, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&ctx, sizeof digest, digest);
  return Hex(digest, sizeof digest);
}

std::string Sha256Hex(std::string_view text) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof digest, digest);
  return Hex(digest, sizeof digest);
}

std::string DigestResponse(bool sha256, std::string_view user, std::string_view realm,
                           std::string_view password, std::string_view method,
                           std::string_view uri, std::string_view nonce, std::string_view nc,
                           std::string_view cnonce) {
  std::string (*hash)(std::string_view) = sha256 ? Sha256Hex : Md5Hex;
  auto join = [](std::initializer_list<std::string_view> parts) {
    std::string out;
    bool first = true;
    for (std::string_view part : parts) {
      if (!first) out += ':';
      first = false;
      out.append(part);
    }
    return out;
  };
  const std::string ha1 = hash(join({user, realm, password}));
  const std::string ha2 = hash(join({method, uri}));
  return hash(join({ha1, nonce, nc, cnonce, "auth", ha2}));
}

const std::string* AuthorizationHeader::Param(std::string_view name) const {
  for (const auto& [key, value] : params) {
    if (key == name) return &value;
  }
  return nullptr;
}

AuthorizationHeader ParseAuthorization(std::string_view value) {
  AuthorizationHeader out;
  std::size_t i = 0;
  SkipSpace(value, i);
  const std::size_t scheme_start = i;
  while (i < value.size() && IsTokenChar(value[i])) ++i;
  const std::string_view scheme = value.substr(scheme_start, i - scheme_start);
  if (scheme.empty()) return out;
  out.scheme = AuthScheme::kOther;
  if (i < value.size() && value[i] != ' ' && value[i] != '\t') return out;
  SkipSpace(value, i);
  if (EqualsNoCase(scheme, "Basic")) {
    std::size_t end = value.size();
    while (end > i && (value[end - 1] == ' ' || value[end - 1] == '\t')) --end;
    const std::string_view token = value.substr(i, end - i);
    if (token.empty() || token.find_first_of(" \t,") != std::string_view::npos) return out;
    out.scheme = AuthScheme::kBasic;
    out.basic_token = std::string(token);
    return out;
  }
  if (!EqualsNoCase(scheme, "Digest")) return out;
  // auth-param *( OWS "," OWS auth-param ), quoted-string values with "\" escapes.
  while (i < value.size()) {
    const std::size_t name_start = i;
    while (i < value.size() && IsTokenChar(value[i])) ++i;
    if (i == name_start) return out;
    std::string name = LowerText(value.substr(name_start, i - name_start));
    SkipSpace(value, i);
    if (i >= value.size() || value[i] != '=') return out;
    ++i;
    SkipSpace(value, i);
    std::string text;
    if (i < value.size() && value[i] == '"') {
      ++i;
      bool closed = false;
      while (i < value.size()) {
        char c = value[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i >= value.size()) return out;
          c = value[i++];
        }
        text.push_back(c);
      }
      if (!closed) return out;
    } else {
      const std::size_t start = i;
      while (i < value.size() && IsTokenChar(value[i])) ++i;
      if (i == start) return out;
      text = std::string(value.substr(start, i - start));
    }
    // A repeated parameter could mean one thing here and another elsewhere.
    for (const auto& kept : out.params) {
      if (kept.first == name) return out;
    }
    out.params.emplace_back(std::move(name), std::move(text));
    SkipSpace(value, i);
    if (i < value.size()) {
      if (value[i] != ',') return out;
      ++i;
      SkipSpace(value, i);
    }
  }
  if (out.params.empty()) return out;
  out.scheme = AuthScheme::kDigest;
  return out;
}

NonceMint::NonceMint() {
  if (!platform::RandomBytes(key_.data(), key_.size())) {
    // Without a key every nonce could be forged; no server then.
    throw std::runtime_error("no random bytes for the nonce key");
  }
}

std::string NonceMint::Issue(std::chrono::system_clock::time_point now) const {
  std::uint8_t nonce[kNonceBytes];
  const auto issued = static_cast<std::uint64_t>(Seconds(now));
  for (int i = 0; i < 8; ++i) nonce[i] = static_cast<std::uint8_t>(issued >> (56 - 8 * i));
  hmac_sha256_ctx ctx;
  hmac_sha256_set_key(&ctx, key_.size(), key_.data());
  hmac_sha256_update(&ctx, 8, nonce);
  hmac_sha256_digest(&ctx, 16, nonce + 8);
  return Base64UrlEncode(nonce, sizeof nonce);
}

NonceMint::Age NonceMint::Check(std::string_view nonce,
                                std::chrono::system_clock::time_point now) const {
  if (nonce.size() != 32) return Age::kForged;
  const auto bytes = Base64Decode(nonce, true);
  if (!bytes || bytes->size() != kNonceBytes) return Age::kForged;
  const auto* raw = reinterpret_cast<const std::uint8_t*>(bytes->data());
  std::uint8_t tag[16];
  hmac_sha256_ctx ctx;
  hmac_sha256_set_key(&ctx, key_.size(), key_.data());
  hmac_sha256_update(&ctx, 8, raw);
  hmac_sha256_digest(&ctx, sizeof tag, tag);
  if (!memeql_sec(tag, raw + 8, sizeof tag)) return Age::kForged;
  std::uint64_t issued = 0;
  for (int i = 0; i < 8; ++i) issued = (issued << 8) | raw[i];
  const std::int64_t age = Seconds(now) - static_cast<std::int64_t>(issued);
  if (age < -5) return Age::kForged;  // from a clock ahead of ours: not ours
  return age > kNonceLifetime.count() ? Age::kStale : Age::kFresh;
}

AuthOutcome CheckAuthorization(const std::vector<std::string_view>& authorization,
                               std::string_view method, std::string_view target, bool tls,
                               const std::optional<Credentials>& account, const NonceMint& mint,
                               std::chrono::system_clock::time_point now) {
  if (authorization.size() != 1) return AuthOutcome::kMissing;
  const AuthorizationHeader header = ParseAuthorization(authorization.front());
  const bool have_account = account && !account->user.empty() && !account->password.empty();
  if (header.scheme == AuthScheme::kBasic) {
    // In the clear the password would be given away: not even looked at.
    if (!tls) return AuthOutcome::kMissing;
    const auto decoded = Base64Decode(header.basic_token, false);
    if (!decoded) return AuthOutcome::kWrong;
    const std::size_t colon = decoded->find(':');
    if (colon == std::string::npos || !have_account) return AuthOutcome::kWrong;
    const bool user_ok = SameSecret(decoded->substr(0, colon), account->user);
    const bool password_ok = SameSecret(decoded->substr(colon + 1), account->password);
    return user_ok && password_ok ? AuthOutcome::kGood : AuthOutcome::kWrong;
  }
  if (header.scheme != AuthScheme::kDigest) return AuthOutcome::kMissing;

  const std::string* username = header.Param("username");
  const std::string* realm = header.Param("realm");
  const std::string* nonce = header.Param("nonce");
  const std::string* uri = header.Param("uri");
  const std::string* response = header.Param("response");
  const std::string* qop = header.Param("qop");
  const std::string* nc = header.Param("nc");
  const std::string* cnonce = header.Param("cnonce");
  const std::string* algorithm = header.Param("algorithm");
  const std::string* userhash = header.Param("userhash");
  if (!username || !realm || !nonce || !uri || !response || !qop || !nc || !cnonce) {
    return AuthOutcome::kMissing;
  }
  if (*realm != kAuthRealm || *qop != "auth" || nc->size() != 8) return AuthOutcome::kMissing;
  std::string (*hash)(std::string_view) = nullptr;
  if (!algorithm || EqualsNoCase(*algorithm, "MD5")) {
    hash = Md5Hex;
  } else if (EqualsNoCase(*algorithm, "SHA-256")) {
    hash = Sha256Hex;
  } else {
    return AuthOutcome::kMissing;
  }
  // The answer was made for this request, not replayed from another one.
  const std::string_view target_path = target.substr(0, target.find('?'));
  if (*uri != target && *uri != target_path) return AuthOutcome::kMissing;
  const NonceMint::Age age = mint.Check(*nonce, now);
  if (age == NonceMint::Age::kForged) return AuthOutcome::kMissing;
  if (!have_account) return AuthOutcome::kWrong;

  const bool hashed_user = userhash && EqualsNoCase(*userhash, "true");
  const std::string expected_user =
      hashed_user ? hash(account->user + ":" + kAuthRealm) : account->user;
  const bool user_ok = SameSecret(hashed_user ? LowerText(*username) : *username, expected_user);
  const std::string expected =
      DigestResponse(hash == Sha256Hex, account->user, kAuthRealm, account->password, method,
                     *uri, *nonce, *nc, *cnonce);
  const std::string given = LowerText(*response);
  const bool response_ok = given.size() == expected.size() &&
                           memeql_sec(given.data(), expected.data(), expected.size()) != 0;
  if (!user_ok || !response_ok) return AuthOutcome::kWrong;
  return age == NonceMint::Age::kStale ? AuthOutcome::kStale : AuthOutcome::kGood;
}

std::string ChallengeHeaders(const NonceMint& mint, bool tls, bool stale,
                             std::chrono::system_clock::time_point now) {
  const std::string nonce = mint.Issue(now);
  std::string out;
  for (const char* algorithm : {"SHA-256", "MD5"}) {
    out += std::string("WWW-Authenticate: Digest realm=\"") + kAuthRealm +
           "\", qop=\"auth\", algorithm=" + algorithm + ", nonce=\"" + nonce + "\"" +
           (stale ? ", stale=true" : "") + "\r\n";
  }
  if (tls) out += std::string("WWW-Authenticate: Basic realm=\"") + kAuthRealm + "\", charset=\"UTF-8\"\r\n";
  return out;
}

}  // namespace quarno::httpd
