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
  kIdentify,  // "/quarno.html": the identification answer
  kCharset,   // "/ftp_charset": the charset answer
  kNoMarker,  // no "httpstream": the fixed 404
  kReject,    // unsafe after decoding ("%00" or "\")
  kServe,     // hand `path` to the library
};

struct PrefaceDecision {
  PrefaceAction action = PrefaceAction::kReject;
  // Decoded path to serve, after the rewrite and with "." and ".." segments
  // and repeated slashes removed (kServe only); never climbs above "/".
  std::string path;
  // Decoded part the rewrite cut off, e.g. "/httpstream/token"; empty when
  // the path had fewer than three slashes and was not rewritten.
  std::string client_prefix;
};

// `uri` is the path as the client sent it, query already cut: percent
// escapes, dot segments and repeated slashes still in place. The status
// requests and the stream marker are looked for before any clean-up, and the
// prefix is cut before it, so "/httpstream//DISK_E/x" names "/DISK_E/x".
PrefaceDecision DecidePreface(std::string_view uri);

// Decodes "%XX" escapes; a "%" without two hex digits stays as it is.
std::string PercentDecode(std::string_view text);

// Removes "." and ".." segments (never above the root) and empty ones;
// a trailing slash is kept.
std::string CleanPath(std::string_view path);

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
