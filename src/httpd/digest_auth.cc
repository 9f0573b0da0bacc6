#include "httpd/digest_auth.h"

#include <strings.h>

#include <cstdio>

#include "httpd/http_auth.h"

namespace quarno::httpd {

std::string DigestChallenge(std::time_t now) {
  char challenge[200];
  std::snprintf(challenge, sizeof challenge,
                "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nWWW-Authenticate: Digest "
                "qop=\"auth\", realm=\"%s\", nonce=\"%lu\"\r\n\r\n",
                kDigestRealm, static_cast<unsigned long>(now));
  return challenge;
}

bool DigestAuthorized(std::string_view authorization, std::string_view method,
                      std::string_view uri, std::string_view password_file, std::time_t now) {
  const AuthorizationHeader header = ParseAuthorization(authorization);
  if (header.scheme != AuthScheme::kDigest) return false;
  static const std::string kNone;
  auto p = [&header](std::string_view name) -> const std::string& {
    const std::string* value = header.Param(name);
    return value ? *value : kNone;
  };
  const std::string& user = p("username");
  const std::string& nonce = p("nonce");
  if (user.empty() || nonce.empty() || p("response").empty() || p("uri") != uri) return false;
  if (nonce.find_first_not_of("0123456789") != std::string::npos || nonce.size() > 19)
    return false;
  const long long issued = std::stoll(nonce);
  if (issued > now || now - issued > 3600) return false;
  const std::string ha2 = Md5Hex(std::string(method) + ":" + std::string(uri));
  while (!password_file.empty()) {
    const std::size_t end = password_file.find('\n');
    std::string_view line = password_file.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    password_file.remove_prefix(end == std::string_view::npos ? password_file.size() : end + 1);
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) continue;
    if (line.substr(0, first) != user || line.substr(first + 1, second - first - 1) != kDigestRealm)
      continue;
    const std::string ha1(line.substr(second + 1));
    const std::string expected =
        p("qop").empty()
            ? Md5Hex(ha1 + ":" + nonce + ":" + ha2)
            : Md5Hex(ha1 + ":" + nonce + ":" + p("nc") + ":" + p("cnonce") + ":" + p("qop") + ":" +
                     ha2);
    return !strcasecmp(expected.c_str(), p("response").c_str());
  }
  return false;
}

}  // namespace quarno::httpd
