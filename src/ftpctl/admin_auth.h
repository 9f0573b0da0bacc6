#pragma once
// The admin channel's per-run secret and the password challenge built on it.
// Whoever starts quarno-ftpd writes a fresh secret (0600) into the runtime
// folder; the daemon challenges every admin connection with a random nonce
// and the scheme's name, and the client answers with HMAC-SHA256(secret,
// nonce). Only this user (and root) can read the file, so the port alone no
// longer lets any local account in.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarno::ftpctl {

inline constexpr char kAdminChallengeScheme[] = "HMAC-SHA256";
inline constexpr size_t kAdminNonceLength = 32;
inline constexpr size_t kAdminAnswerLength = 32;

// RuntimeFolder()/Quarno_Server.secret
std::string AdminSecretPath();
// A new random secret, written 0600 over any earlier one. False when it
// cannot be written.
bool WriteNewAdminSecret();
// The secret of this run; nullopt when the file is missing or malformed.
std::optional<std::string> ReadAdminSecret();
// Reads the secret, writing a new one first when there is none.
std::optional<std::string> EnsureAdminSecret();

// Payload of the challenge (type 0, id 0): 2-byte big-endian length + nonce,
// 2-byte big-endian length + scheme name.
std::vector<uint8_t> ChallengePayload(const std::vector<uint8_t>& nonce);
std::vector<uint8_t> NewNonce();
// The nonce of a challenge this client knows how to answer; nullopt for a
// malformed challenge or another scheme.
std::optional<std::vector<uint8_t>> ParseChallenge(const uint8_t* payload, size_t length);
std::vector<uint8_t> ChallengeAnswer(const std::string& secret, const std::vector<uint8_t>& nonce);
// Compares in constant time; an answer of the wrong length never matches.
bool AnswerMatches(const std::string& secret, const std::vector<uint8_t>& nonce,
                   const uint8_t* answer, size_t length);

// Whether the listener behind an established connection from this process
// (`local_port` on 127.0.0.1 to 127.0.0.1:`admin_port`) belongs to this user
// or root: a port another local account bound first gets no byte from us.
bool AdminListenerIsOurs(uint16_t admin_port, uint16_t local_port);

}  // namespace quarno::ftpctl
