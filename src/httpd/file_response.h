#pragma once
// The parts of a file answer that are plain text rules: byte ranges, the
// validators and the folder page. No I/O, so each can be tested alone.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "httpd/share_files.h"

namespace quarno::httpd {

struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // inclusive
  std::uint64_t length() const { return last - first + 1; }
};

enum class RangeVerdict {
  kWhole,          // no usable Range: 200 with the whole file
  kPartial,        // 206 with `ranges` (one: plain; more: multipart/byteranges)
  kUnsatisfiable,  // 416 with "Content-Range: bytes */size"
};

struct RangePlan {
  RangeVerdict verdict = RangeVerdict::kWhole;
  std::vector<ByteRange> ranges;
};

// Reads a Range header value for a file of `size` bytes. Syntax errors and
// units other than bytes leave the header ignored; so do sets that overlap
// or ask for more pieces than a player ever needs (each piece costs a part
// head: a cheap way to make the server work for nothing).
RangePlan PlanRanges(std::string_view header, std::uint64_t size);

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::int64_t seconds);
// The three forms of RFC 9110 5.6.7 are accepted; nullopt when none fits.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// A strong validator from the file's identity, size and modification time:
// it changes when an FTP upload replaces the file.
std::string EntityTag(std::uint64_t inode, std::uint64_t size, std::int64_t modified_ns);

// True when an If-None-Match value lists `etag` (weak comparison) or is "*".
bool EtagListed(std::string_view header, std::string_view etag);

// The folder page: names HTML-escaped and percent-encoded in links, folders
// first, then by name; sizes and UTC dates. `title_path` is the path the
// client asked for, decoded.
std::string FolderPage(std::string_view title_path, std::vector<FolderEntry> entries);
// The page in pieces, so a big folder streams: head, one row per entry in
// the order SortFolderEntries gives, tail.
void SortFolderEntries(std::vector<FolderEntry>& entries);
std::string FolderPageHead(std::string_view title_path);
std::string FolderPageRow(const FolderEntry& entry);
inline constexpr char kFolderPageTail[] = "</table>\n</body></html>\n";

// The Content-Type for a file name by its extension (any case); "text/plain"
// for the rest.
const char* MimeType(std::string_view path);

// Escapes &, <, >, " and '.
std::string HtmlEscape(std::string_view text);

}  // namespace quarno::httpd
