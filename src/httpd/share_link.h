#pragma once
// The share link: "/httpstream/<token>/<share>/..." with a token that opens
// the share without a password. The token is a keyed hash of the account
// under the installation's secret, so only this installation makes it, and a
// new password makes a new one (the old link stops working).
#include <string>
#include <string_view>

namespace quarno::httpd {

// 192 bits of HMAC-SHA256(secret, user "\0" password), base64url: 32 characters.
std::string ShareToken(std::string_view secret, std::string_view user, std::string_view password);
// Constant-time comparison; an empty `expected` matches nothing.
bool TokenMatches(std::string_view given, std::string_view expected);
// "https://" + host + ":" + port + "/httpstream/" + token + "/" + share + "/",
// the share percent-encoded.
std::string ShareLinkUrl(std::string_view host, std::string_view port, std::string_view token,
                         std::string_view share);
// The second segment of a stream prefix ("/httpstream/<token>"), or empty.
std::string_view StreamToken(std::string_view client_prefix);

}  // namespace quarno::httpd
