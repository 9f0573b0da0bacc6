#include "httpd/request_preface.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/netprobe.h"

namespace quarno::httpd {
namespace {

// A byte that means something else to some file system, or a C string
// cut short: refused rather than guessed at.
bool UnsafeAfterDecoding(std::string_view path, bool had_nul) {
  return had_nul || path.find('\\') != std::string_view::npos;
}

}  // namespace

std::string RewriteStreamPath(std::string_view decoded_path) {
  int slashes = 0;
  for (std::size_t i = 0; i < decoded_path.size(); ++i) {
    if (decoded_path[i] == '/' && ++slashes == 3) {
      return std::string(decoded_path.substr(i));
    }
  }
  return std::string(decoded_path);
}

std::string CleanPath(std::string_view path) {
  std::vector<std::string_view> kept;
  kept.reserve(16);
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
    } else if (!segment.empty() && segment != ".") {
      kept.push_back(segment);
    }
    start = end + 1;
  }
  std::string clean;
  clean.reserve(path.size() + 1);
  for (std::string_view segment : kept) {
    clean += '/';
    clean.append(segment);
  }
  // A folder keeps its trailing slash: it decides between page and redirect.
  const bool folder =
      !path.empty() && (path.back() == '/' || path.ends_with("/.") || path.ends_with("/.."));
  if (clean.empty() || folder) clean += '/';
  return clean;
}

std::string PercentDecode(std::string_view text) {
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t percent = std::min(text.find('%', i), text.size());
    out.append(text.substr(i, percent - i));
    i = percent;
    if (i == text.size()) break;
    // A "%" without two hex digits is a plain "%".
    if (i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 3;
    } else {
      out += '%';
      ++i;
    }
  }
  return out;
}

PrefaceDecision DecidePreface(std::string_view uri) {
  PrefaceDecision decision;
  // "+" stays "+": this is a path, not a form.
  const std::string decoded = PercentDecode(uri);
  // Everything that only looks at the text stops where a C string would.
  const std::size_t nul = decoded.find('\0');
  const bool had_nul = nul != std::string::npos;
  std::string_view text(decoded.data(), had_nul ? nul : decoded.size());

  if (text.find("/quarno.html") != std::string_view::npos) {
    decision.action = PrefaceAction::kIdentify;
    return decision;
  }
  if (text.find("/ftp_charset") != std::string_view::npos) {
    decision.action = PrefaceAction::kCharset;
    return decision;
  }
  if (text.find("httpstream") == std::string_view::npos) {
    decision.action = PrefaceAction::kNoMarker;
    return decision;
  }
  if (UnsafeAfterDecoding(decoded, had_nul)) return decision;
  const std::string rewritten = RewriteStreamPath(decoded);
  decision.client_prefix = decoded.substr(0, decoded.size() - rewritten.size());
  decision.path = CleanPath(rewritten);
  decision.action = PrefaceAction::kServe;
  return decision;
}

std::string PercentEncodePath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (unsigned char c : path) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (keep) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string IdentificationBody(const std::array<std::uint8_t, 6>& mac) {
  return "Ralmek_NAS-AB1122 " + FormatMacTail(mac);
}

std::string CharsetBody(bool ftp_charset_utf8) { return ftp_charset_utf8 ? "UTF-8" : "EUC-KR"; }

std::string StatusHead(std::size_t body_length) {
  char head[160];
  std::snprintf(head, sizeof head,
                "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n"
                "Connection: Close\r\n\r\n",
                200, "OK", static_cast<int>(body_length));
  return head;
}

std::string NoMarkerAnswer(bool keep_alive) {
  char body[64];
  std::snprintf(body, sizeof body, "Error %d: %s\n%s", 404, "Not Found", "Not Found");
  char head[200];
  std::snprintf(head, sizeof head,
                "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n"
                "Connection: %s\r\n\r\n",
                404, "Not Found", static_cast<int>(std::string_view(body).size()),
                keep_alive ? "keep-alive" : "close");
  return std::string(head) + body;
}

}  // namespace quarno::httpd
