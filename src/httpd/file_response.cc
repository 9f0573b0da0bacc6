#include "httpd/file_response.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "httpd/request_preface.h"

namespace quarno::httpd {
namespace {

constexpr std::size_t kMaxRanges = 16;
constexpr std::uint64_t kUnbounded = ~std::uint64_t{0};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Digits only; values past 2^64 saturate (they are past any file's end).
bool ParseNumber(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    value = value > (kUnbounded - digit) / 10 ? kUnbounded : value * 10 + digit;
  }
  return true;
}

}  // namespace

RangePlan PlanRanges(std::string_view header, std::uint64_t size) {
  RangePlan plan;
  header = Trim(header);
  if (header.size() < 6 || strncasecmp(header.data(), "bytes=", 6) != 0) return plan;
  header.remove_prefix(6);
  std::vector<ByteRange> wanted;
  bool any_piece = false;
  while (true) {
    const std::size_t comma = header.find(',');
    const std::string_view piece = Trim(header.substr(0, comma));
    if (!piece.empty()) {
      any_piece = true;
      const std::size_t dash = piece.find('-');
      if (dash == std::string_view::npos) return plan;
      const std::string_view first_text = Trim(piece.substr(0, dash));
      const std::string_view last_text = Trim(piece.substr(dash + 1));
      std::uint64_t first = 0, last = 0;
      if (first_text.empty()) {  // suffix: the last N bytes
        if (!ParseNumber(last_text, last)) return plan;
        if (last > 0 && size > 0) wanted.push_back({size - std::min(last, size), size - 1});
      } else {
        if (!ParseNumber(first_text, first)) return plan;
        if (last_text.empty()) {
          last = kUnbounded;
        } else if (!ParseNumber(last_text, last) || last < first) {
          return plan;
        }
        if (first < size) wanted.push_back({first, std::min(last, size - 1)});
      }
    }
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  if (!any_piece) return plan;
  if (wanted.empty()) {
    plan.verdict = RangeVerdict::kUnsatisfiable;
    return plan;
  }
  if (wanted.size() > kMaxRanges) return plan;
  std::vector<ByteRange> sorted = wanted;
  std::sort(sorted.begin(), sorted.end(),
            [](const ByteRange& a, const ByteRange& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < sorted.size(); ++i) {
    if (sorted[i].first <= sorted[i - 1].last) return plan;
  }
  plan.verdict = RangeVerdict::kPartial;
  plan.ranges = std::move(wanted);  // in the order asked for
  return plan;
}

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kFullDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Reads the three forms of HTTP dates front to back.
struct DateReader {
  std::string_view rest;

  bool Take(char c) {
    if (rest.empty() || rest.front() != c) return false;
    rest.remove_prefix(1);
    return true;
  }
  bool Spaces() {
    const std::size_t n = std::min(rest.find_first_not_of(' '), rest.size());
    rest.remove_prefix(n);
    return n > 0;
  }
  bool Number(std::size_t least, std::size_t most, int& value) {
    std::size_t n = 0;
    value = 0;
    while (n < most && n < rest.size() && rest[n] >= '0' && rest[n] <= '9')
      value = value * 10 + (rest[n++] - '0');
    rest.remove_prefix(n);
    return n >= least;
  }
  // One of `names`, in any case; its index, or -1.
  template <std::size_t N>
  int Name(const char* const (&names)[N]) {
    std::size_t n = 0;
    while (n < rest.size() && ((rest[n] | 0x20) >= 'a' && (rest[n] | 0x20) <= 'z')) ++n;
    for (std::size_t i = 0; i < N; ++i) {
      if (std::strlen(names[i]) == n && strncasecmp(rest.data(), names[i], n) == 0) {
        rest.remove_prefix(n);
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  bool Word(std::string_view word) {
    if (rest.size() < word.size() || strncasecmp(rest.data(), word.data(), word.size()) != 0)
      return false;
    rest.remove_prefix(word.size());
    return true;
  }
  bool Day() {
    DateReader full = *this;
    if (full.Name(kFullDayNames) >= 0) {
      *this = full;
      return true;
    }
    return Name(kDayNames) >= 0;
  }
  bool Clock(std::tm& tm) {
    return Number(1, 2, tm.tm_hour) && Take(':') && Number(1, 2, tm.tm_min) && Take(':') &&
           Number(1, 2, tm.tm_sec);
  }
};

}  // namespace

// By hand, not with strftime: that follows the process's locale (a Korean
// desktop would send Korean names of days and months) and looks up the time
// zone on each call.
std::string HttpDate(std::int64_t seconds) {
  // The same few dates (files' times, the clock) come again and again.
  thread_local std::int64_t last_seconds = -1;
  thread_local std::string last_text;
  if (seconds == last_seconds && !last_text.empty()) return last_text;
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  const int year = tm.tm_year + 1900;
  if (year < 0 || year > 9999) {
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d GMT", kDayNames[tm.tm_wday % 7],
                  tm.tm_mday, kMonthNames[tm.tm_mon % 12], year, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
  }
  char text[] = "Ddd, dd Mmm yyyy hh:mm:ss GMT";
  auto two = [&text](std::size_t at, int value) {
    text[at] = static_cast<char>('0' + value / 10);
    text[at + 1] = static_cast<char>('0' + value % 10);
  };
  std::memcpy(text, kDayNames[tm.tm_wday % 7], 3);
  two(5, tm.tm_mday);
  std::memcpy(text + 8, kMonthNames[tm.tm_mon % 12], 3);
  two(12, year / 100);
  two(14, year % 100);
  two(17, tm.tm_hour);
  two(20, tm.tm_min);
  two(23, tm.tm_sec);
  last_seconds = seconds;
  last_text = text;
  return last_text;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" or
// "Sun Nov  6 08:49:37 1994"; the day's name is not checked against the date.
std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
  std::tm tm{};
  auto finish = [&tm](const DateReader& reader, int year) -> std::optional<std::int64_t> {
    if (!reader.rest.empty() || tm.tm_mon < 0 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
        tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60) {
      return std::nullopt;
    }
    tm.tm_year = year - 1900;
    return static_cast<std::int64_t>(timegm(&tm));
  };
  int year = 0;
  const DateReader start{Trim(text)};
  DateReader reader = start;
  if (!reader.Day()) return std::nullopt;
  if (reader.Take(',')) {
    reader.Spaces();
    if (!reader.Number(1, 2, tm.tm_mday)) return std::nullopt;
    DateReader dashed = reader;
    if (reader.Spaces() && (tm.tm_mon = reader.Name(kMonthNames)) >= 0 && reader.Spaces() &&
        reader.Number(4, 4, year) && reader.Spaces() && reader.Clock(tm) && reader.Spaces() &&
        reader.Word("GMT")) {
      return finish(reader, year);
    }
    // Two-digit years as the old form meant them: 69-99 are 19xx.
    if (dashed.Take('-') && (tm.tm_mon = dashed.Name(kMonthNames)) >= 0 && dashed.Take('-') &&
        dashed.Number(2, 2, year) && dashed.Spaces() && dashed.Clock(tm) && dashed.Spaces() &&
        dashed.Word("GMT")) {
      return finish(dashed, year + (year < 69 ? 2000 : 1900));
    }
    return std::nullopt;
  }
  if (reader.Spaces() && (tm.tm_mon = reader.Name(kMonthNames)) >= 0 && reader.Spaces() &&
      reader.Number(1, 2, tm.tm_mday) && reader.Spaces() && reader.Clock(tm) && reader.Spaces() &&
      reader.Number(4, 4, year)) {
    return finish(reader, year);
  }
  return std::nullopt;
}

std::string EntityTag(std::uint64_t inode, std::uint64_t size, std::int64_t modified_ns) {
  std::string tag = "\"";
  auto hex = [&tag](std::uint64_t value) {
    char digits[16];
    std::size_t n = 0;
    do {
      digits[n++] = "0123456789abcdef"[value & 15];
      value >>= 4;
    } while (value != 0);
    while (n > 0) tag += digits[--n];
  };
  hex(inode);
  tag += '-';
  hex(size);
  tag += '-';
  hex(static_cast<std::uint64_t>(modified_ns));
  tag += '"';
  return tag;
}

bool EtagListed(std::string_view header, std::string_view etag) {
  while (!header.empty()) {
    const std::size_t comma = header.find(',');
    std::string_view item = Trim(header.substr(0, comma));
    if (item == "*") return true;
    if (item.substr(0, 2) == "W/") item.remove_prefix(2);
    if (item == etag) return true;
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  return false;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void SortFolderEntries(std::vector<FolderEntry>& entries) {
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    if (a.directory != b.directory) return a.directory;
    return a.name < b.name;
  });
}

std::string FolderPageHead(std::string_view title_path) {
  const std::string title = HtmlEscape(title_path);
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Index of " + title +
         "</title></head>\n<body><h1>Index of " + title +
         "</h1>\n<table>\n<tr><th>Name</th><th>Modified</th><th>Size</th></tr>\n"
         "<tr><td><a href=\"../\">../</a></td><td></td><td></td></tr>\n";
}

std::string FolderPageRow(const FolderEntry& entry) {
  // "./" keeps a name with a colon from reading as a scheme.
  const std::string href = "./" + PercentEncodePath(entry.name) + (entry.directory ? "/" : "");
  return "<tr><td><a href=\"" + href + "\">" + HtmlEscape(entry.name) +
         (entry.directory ? "/" : "") + "</a></td><td>" + HttpDate(entry.modified) + "</td><td>" +
         (entry.directory ? std::string("-") : std::to_string(entry.size)) + "</td></tr>\n";
}

std::string FolderPage(std::string_view title_path, std::vector<FolderEntry> entries) {
  SortFolderEntries(entries);
  std::string page = FolderPageHead(title_path);
  for (const FolderEntry& entry : entries) page += FolderPageRow(entry);
  page += kFolderPageTail;
  return page;
}

const char* MimeType(std::string_view path) {
  static constexpr struct {
    std::string_view extension;
    const char* type;
  } kTypes[] = {
      {".html", "text/html"}, {".htm", "text/html"}, {".shtml", "text/html"},
      {".css", "text/css"}, {".js", "application/javascript"}, {".json", "application/json"},
      {".xml", "text/xml"}, {".txt", "text/plain"}, {".csv", "text/csv"},
      {".svg", "image/svg+xml"}, {".png", "image/png"}, {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"}, {".gif", "image/gif"}, {".bmp", "image/bmp"},
      {".ico", "image/x-icon"}, {".webp", "image/webp"}, {".tif", "image/tiff"},
      {".tiff", "image/tiff"}, {".mp3", "audio/mpeg"}, {".wav", "audio/x-wav"},
      {".ogg", "application/ogg"}, {".flac", "audio/flac"}, {".m4a", "audio/mp4"},
      {".mp4", "video/mp4"}, {".m4v", "video/x-m4v"}, {".mkv", "video/x-matroska"},
      {".avi", "video/x-msvideo"}, {".mov", "video/quicktime"}, {".wmv", "video/x-ms-wmv"},
      {".webm", "video/webm"}, {".mpg", "video/mpeg"}, {".mpeg", "video/mpeg"},
      {".ts", "video/mp2t"}, {".m3u8", "application/vnd.apple.mpegurl"},
      {".pdf", "application/pdf"}, {".zip", "application/zip"}, {".gz", "application/x-gunzip"},
      {".tgz", "application/x-tar-gz"}, {".tar", "application/x-tar"},
      {".7z", "application/x-7z-compressed"}, {".rar", "application/x-rar-compressed"},
      {".doc", "application/msword"}, {".xls", "application/excel"},
      {".ppt", "application/x-mspowerpoint"}, {".rtf", "application/rtf"},
      {".bin", "application/octet-stream"}, {".exe", "application/octet-stream"},
      {".iso", "application/octet-stream"}, {".dmg", "application/octet-stream"},
      {".torrent", "application/x-bittorrent"}, {".woff", "font/woff"}, {".ttf", "font/ttf"},
  };
  // Every extension starts with its dot, so only the last one can match.
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "text/plain";
  char lower[8];
  const std::size_t length = path.size() - dot;
  if (length > sizeof lower) return "text/plain";  // longer than any known
  for (std::size_t i = 0; i < length; ++i) {
    const char c = path[dot + i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  static const auto* const kByExtension = [] {
    auto* map = new std::unordered_map<std::string_view, const char*>;
    for (const auto& entry : kTypes) map->emplace(entry.extension, entry.type);
    return map;
  }();
  const auto found = kByExtension->find(std::string_view(lower, length));
  return found == kByExtension->end() ? "text/plain" : found->second;
}

}  // namespace quarno::httpd
