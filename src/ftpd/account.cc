#include "ftpd/account.h"

#include <nettle/md5.h>

namespace quarno::ftpd {

std::string Md5Hex(std::string_view bytes) {
  md5_ctx ctx;
  md5_init(&ctx);
  md5_update(&ctx, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
  uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&ctx, sizeof digest, digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * MD5_DIGEST_SIZE);
  for (uint8_t b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

static bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned diff = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'F') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'F') y = static_cast<unsigned char>(y - 'A' + 'a');
    diff |= x ^ y;  // no early exit: timing does not reveal the matching prefix
  }
  return diff == 0;
}

bool PasswordMatches(const Account& account, std::string_view password) {
  if (account.password.empty()) return password.empty();
  return EqualNoCase(Md5Hex(password), account.password);
}

}  // namespace quarno::ftpd
