#include "httpd/digest_auth.h"

#include <nettle/md5.h>
#include <strings.h>

#include <cstdio>
#include <map>

namespace quarno::httpd {
namespace {

std::string Md5Hex(std::string_view text) {
  md5_ctx context;
  md5_init(&context);
  md5_update(&context, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
  std::uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&context, sizeof digest, digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t byte : digest) {
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}

// name=value and name="value" pairs after "Digest "; names lower-cased.
std::map<std::string, std::string> Parameters(std::string_view text) {
  std::map<std::string, std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ' ' || text[at] == ',' || text[at] == '\t')) ++at;
    const std::size_t eq = text.find('=', at);
    if (eq == std::string_view::npos) break;
    std::string name(text.substr(at, eq - at));
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    at = eq + 1;
    std::string value;
    if (at < text.size() && text[at] == '"') {
      ++at;
      while (at < text.size() && text[at] != '"') {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
        value += text[at++];
      }
      ++at;
    } else {
      while (at < text.size() && text[at] != ',' && text[at] != ' ') value += text[at++];
    }
    out[name] = value;
  }
  return out;
}

}  // namespace

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
  if (authorization.size() < 7 || strncasecmp(authorization.data(), "Digest ", 7) != 0)
    return false;
  auto p = Parameters(authorization.substr(7));
  const std::string& user = p["username"];
  const std::string& nonce = p["nonce"];
  if (user.empty() || nonce.empty() || p["response"].empty() || p["uri"] != uri) return false;
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
        p["qop"].empty()
            ? Md5Hex(ha1 + ":" + nonce + ":" + ha2)
            : Md5Hex(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] + ":" + p["qop"] + ":" +
                     ha2);
    return !strcasecmp(expected.c_str(), p["response"].c_str());
  }
  return false;
}

}  // namespace quarno::httpd
