#include "update/sha256.h"

#include <nettle/sha2.h>

#include <cctype>
#include <fstream>

namespace quarno::update {

std::optional<std::string> FileSha256(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  sha256_ctx ctx;
  sha256_init(&ctx);
  char buffer[64 * 1024];
  while (in) {
    in.read(buffer, sizeof buffer);
    const std::streamsize n = in.gcount();
    if (n > 0) sha256_update(&ctx, static_cast<size_t>(n), reinterpret_cast<uint8_t*>(buffer));
  }
  if (in.bad()) return std::nullopt;
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof digest, digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

std::optional<std::string> ParsePublishedSha256(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  std::size_t end = begin;
  while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
  const std::string_view word = text.substr(begin, end - begin);
  if (word.size() != 64) return std::nullopt;
  std::string digest;
  for (char c : word) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digest += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return digest;
}

}  // namespace quarno::update
