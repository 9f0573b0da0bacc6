#pragma once
// HTTP digest authentication (RFC 2617, MD5, qop "auth") against a password
// file of "user:realm:ha1" lines, where ha1 = MD5(user ":" realm ":" password).
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace quarno::httpd {

inline constexpr char kDigestRealm[] = "mydomain.com";

// The 401 answer that asks for credentials; the nonce is the time.
std::string DigestChallenge(std::time_t now);

// True when `authorization` (the header's value) answers a challenge of ours
// for `method` and `uri` with a user of `password_file` (its text). A nonce
// is the time of its challenge and is taken for an hour.
bool DigestAuthorized(std::string_view authorization, std::string_view method,
                      std::string_view uri, std::string_view password_file, std::time_t now);

}  // namespace quarno::httpd
