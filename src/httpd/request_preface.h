#pragma once
// The request preface's path handling, free of any server so it can be tested
// and fuzzed on its own: percent decoding, the status requests, the stream
// marker and the rewrite that strips "/httpstream/<token>".
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarno::httpd {

enum class PrefaceAction {
  kIdentify,      // "/quarno.html": the identification answer
  kCharset,       // "/ftp_charset": the charset answer
  kNoMarker,      // no "httpstream": the fixed 404
  kReject,        // unsafe after decoding ("%00", "\", "." or ".." segment)
  kServe,         // hand `path` to the library
};

struct PrefaceDecision {
  PrefaceAction action = PrefaceAction::kReject;
  // Decoded path the library serves, after the rewrite (kServe only).
  std::string path;
  // Decoded part the rewrite cut off, e.g. "/httpstream/token"; empty when
  // the path had fewer than three slashes and was not rewritten.
  std::string client_prefix;
};

// `uri` is the path as the library hands it over: query already cut, dot
// segments of the raw text already removed, percent escapes still in place.
PrefaceDecision DecidePreface(std::string_view uri);

// Rewrites "/" + a + "/" + b + "/" + rest as "/" + rest; shorter paths stay.
std::string RewriteStreamPath(std::string_view decoded_path);

// Percent-encodes every byte outside RFC 3986's unreserved set, keeping "/".
std::string PercentEncodePath(std::string_view path);

// "Ralmek_NAS-AB1122 %02X%02X%02X" from bytes 4, 5 and 6 of the router MAC.
std::string IdentificationBody(const std::array<std::uint8_t, 6>& mac);
// "UTF-8" or "EUC-KR".
std::string CharsetBody(bool ftp_charset_utf8);
// Head and body of the status answers (head first, body second).
std::string StatusHead(std::size_t body_length);
// The whole 404 answer for a path without the stream marker.
std::string NoMarkerAnswer(bool keep_alive);

}  // namespace quarno::httpd
