#include "httpd/share_link.h"

#include <nettle/base64.h>
#include <nettle/hmac.h>
#include <nettle/memops.h>

#include "httpd/request_preface.h"

namespace quarno::httpd {

std::string ShareToken(std::string_view secret, std::string_view user, std::string_view password) {
  hmac_sha256_ctx ctx;
  hmac_sha256_set_key(&ctx, secret.size(), reinterpret_cast<const std::uint8_t*>(secret.data()));
  hmac_sha256_update(&ctx, user.size(), reinterpret_cast<const std::uint8_t*>(user.data()));
  const std::uint8_t separator = 0;
  hmac_sha256_update(&ctx, 1, &separator);
  hmac_sha256_update(&ctx, password.size(), reinterpret_cast<const std::uint8_t*>(password.data()));
  std::uint8_t mac[24];
  hmac_sha256_digest(&ctx, sizeof mac, mac);
  char text[BASE64_ENCODE_RAW_LENGTH(sizeof mac)];
  base64_encode_ctx encoder;
  base64url_encode_init(&encoder);
  const std::size_t n = base64_encode_update(&encoder, text, sizeof mac, mac);
  return std::string(text, n + base64_encode_final(&encoder, text + n));
}

bool TokenMatches(std::string_view given, std::string_view expected) {
  if (expected.empty() || given.size() != expected.size()) return false;
  return memeql_sec(given.data(), expected.data(), expected.size()) != 0;
}

std::string ShareLinkUrl(std::string_view host, std::string_view port, std::string_view token,
                         std::string_view share) {
  return "https://" + std::string(host) + ":" + std::string(port) + "/httpstream/" +
         std::string(token) + "/" + PercentEncodePath(share) + "/";
}

std::string_view StreamToken(std::string_view client_prefix) {
  if (client_prefix.empty() || client_prefix[0] != '/') return {};
  const std::size_t second = client_prefix.find('/', 1);
  if (second == std::string_view::npos) return {};
  return client_prefix.substr(second + 1);
}

}  // namespace quarno::httpd
