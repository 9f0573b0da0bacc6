#include "ftpctl/admin_auth.h"

#include <nettle/hmac.h>
#include <nettle/memops.h>

#include <random>

#include "platform/files.h"
#include "platform/netinfo.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace quarno::ftpctl {

namespace {

constexpr size_t kSecretHexLength = 64;

std::string RandomHex(size_t bytes) {
  std::random_device random;  // the kernel's generator
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes; ++i) {
    unsigned b = random() & 0xFF;
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

}  // namespace

std::string AdminSecretPath() { return platform::RuntimeFolder() + "/Quarno_Server.secret"; }

bool WriteNewAdminSecret() {
  if (!platform::MakeDirs(platform::RuntimeFolder(), 0700)) return false;
  return platform::ReplaceFile(AdminSecretPath(), RandomHex(kSecretHexLength / 2) + "\n", 0600);
}

std::optional<std::string> ReadAdminSecret() {
  std::string text;
  if (!platform::ReadFile(AdminSecretPath(), text)) return std::nullopt;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.size() != kSecretHexLength ||
      text.find_first_not_of("0123456789abcdef") != std::string::npos)
    return std::nullopt;
  return text;
}

std::optional<std::string> EnsureAdminSecret() {
  if (auto secret = ReadAdminSecret()) return secret;
  if (!WriteNewAdminSecret()) return std::nullopt;
  return ReadAdminSecret();
}

std::vector<uint8_t> NewNonce() {
  std::random_device random;
  std::vector<uint8_t> nonce(kAdminNonceLength);
  for (auto& b : nonce) b = static_cast<uint8_t>(random());
  return nonce;
}

std::vector<uint8_t> ChallengePayload(const std::vector<uint8_t>& nonce) {
  std::vector<uint8_t> p;
  auto put = [&p](const uint8_t* data, size_t n) {
    p.push_back(static_cast<uint8_t>(n >> 8));
    p.push_back(static_cast<uint8_t>(n));
    p.insert(p.end(), data, data + n);
  };
  put(nonce.data(), nonce.size());
  put(reinterpret_cast<const uint8_t*>(kAdminChallengeScheme), sizeof kAdminChallengeScheme - 1);
  return p;
}

std::optional<std::vector<uint8_t>> ParseChallenge(const uint8_t* payload, size_t length) {
  if (length < 4) return std::nullopt;
  size_t l1 = size_t(payload[0]) << 8 | payload[1];
  if (l1 + 4 > length) return std::nullopt;
  size_t l2 = size_t(payload[2 + l1]) << 8 | payload[3 + l1];
  if (l1 + l2 + 4 > length) return std::nullopt;
  std::string scheme(reinterpret_cast<const char*>(payload + 4 + l1), l2);
  if (scheme != kAdminChallengeScheme || l1 != kAdminNonceLength) return std::nullopt;
  return std::vector<uint8_t>(payload + 2, payload + 2 + l1);
}

std::vector<uint8_t> ChallengeAnswer(const std::string& secret, const std::vector<uint8_t>& nonce) {
  hmac_sha256_ctx ctx;
  hmac_sha256_set_key(&ctx, secret.size(), reinterpret_cast<const uint8_t*>(secret.data()));
  hmac_sha256_update(&ctx, nonce.size(), nonce.data());
  std::vector<uint8_t> digest(SHA256_DIGEST_SIZE);
  hmac_sha256_digest(&ctx, digest.size(), digest.data());
  return digest;
}

bool AnswerMatches(const std::string& secret, const std::vector<uint8_t>& nonce,
                   const uint8_t* answer, size_t length) {
  if (length != kAdminAnswerLength) return false;
  std::vector<uint8_t> expected = ChallengeAnswer(secret, nonce);
  return nettle_memeql_sec(expected.data(), answer, length) != 0;
}

bool AdminListenerIsOurs(uint16_t admin_port, uint16_t local_port) {
  if (local_port == 0) return false;
  std::optional<uint32_t> owner =
      platform::TcpPeerOwner("127.0.0.1", admin_port, "127.0.0.1", local_port);
  return owner && (*owner == platform::EffectiveUserId() || *owner == 0);
}

}  // namespace quarno::ftpctl
