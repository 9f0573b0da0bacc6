#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace quarno::platform {
namespace {

// Strict conversion: no transliteration, so any unmappable or broken input fails.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result;
  result.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  size_t used = 0;
  bool ok = true;
  while (src_left > 0) {
    char* dst = result.data() + used;
    size_t dst_left = result.size() - used;
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    used = result.size() - dst_left;
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) {
      result.resize(result.size() * 2);
      continue;
    }
    ok = false;  // EILSEQ or EINVAL (incomplete sequence at the end)
    break;
  }
  if (ok) {
    char* dst = result.data() + used;
    size_t dst_left = result.size() - used;
    ok = iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<size_t>(-1);
    used = result.size() - dst_left;
  }
  iconv_close(cd);
  if (!ok) return false;
  result.resize(used);
  out = std::move(result);
  return true;
}

}  // namespace

bool Utf8ToCp949(std::string_view in, std::string& out) {
  if (!IsValidUtf8(in)) return false;
  return Convert("CP949", "UTF-8", in, out);
}

bool Cp949ToUtf8(std::string_view in, std::string& out) {
  return Convert("UTF-8", "CP949", in, out);
}

bool IsValidUtf8(std::string_view in) {
  const auto* s = reinterpret_cast<const uint8_t*>(in.data());
  size_t n = in.size();
  for (size_t i = 0; i < n;) {
    uint8_t c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    i += len;
  }
  return true;
}

}  // namespace quarno::platform
