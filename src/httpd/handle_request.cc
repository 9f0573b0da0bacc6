#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>

#include "httpd/digest_auth.h"
#include "httpd/exchange.h"
#include "httpd/file_response.h"
#include "httpd/http_server.h"
#include "httpd/propfind.h"
#include "httpd/request_preface.h"
#include "httpd/share_files.h"
#include "httpd/share_link.h"
#include "platform/trace.h"

namespace quarno::httpd {

struct HttpServer::Request {
  Exchange* exchange = nullptr;
  std::string method;
  bool head_only = false;
  bool keep_alive = false;
  PrefaceDecision decision;
};

namespace {

// Folders listed at once: each holds its entries until its page is out.
constexpr int kListingsAtOnce = 4;
// Listing pages and PROPFIND answers leave in pieces about this big.
constexpr std::size_t kStreamPiece = 64 * 1024;

const char* ConnectionText(bool keep_alive) { return keep_alive ? "keep-alive" : "close"; }

bool IsWriteMethod(const std::string& method) {
  for (const char* name :
       {"PUT", "DELETE", "MKCOL", "PATCH", "PROPPATCH", "LOCK", "UNLOCK", "MOVE", "COPY"}) {
    if (method == name) return true;
  }
  return false;
}

// The clock's text changes once a second; the formatting is not free.
const std::string& DateNow() {
  thread_local std::time_t cached_at = 0;
  thread_local std::string cached;
  const std::time_t now = std::time(nullptr);
  if (now != cached_at) {
    cached = HttpDate(now);
    cached_at = now;
  }
  return cached;
}

std::string Boundary() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  char text[40];
  std::snprintf(text, sizeof text, "quarno-%016llx", static_cast<unsigned long long>(random()));
  return text;
}

}  // namespace

// The lister's place is given back when the last piece is out or the
// connection ends.
struct HttpServer::ListingSlot {
  explicit ListingSlot(std::atomic<int>& count) : count_(count) {}
  ~ListingSlot() { --count_; }
  std::atomic<int>& count_;
};

std::shared_ptr<HttpServer::ListingSlot> HttpServer::TakeListingSlot() {
  if (++listings_ > kListingsAtOnce) {
    --listings_;
    return nullptr;
  }
  return std::make_shared<ListingSlot>(listings_);
}

void HttpServer::SendFileRange(Exchange& exchange, const std::shared_ptr<UniqueFd>& file,
                               std::uint64_t offset, std::uint64_t length, std::string prefix) {
  exchange.Send(std::move(prefix));
  exchange.SendFile(file, offset, length);
}

int HttpServer::HandleRequest(Exchange& exchange) {
  Request request;
  request.exchange = &exchange;
  request.method = exchange.method;
  request.head_only = request.method == "HEAD";
  const char* connection_header = exchange.Header("Connection");
  request.keep_alive = exchange.may_keep_alive && connection_header &&
                       !strcasecmp(connection_header, "keep-alive");
  if (!request.keep_alive) exchange.close_after = true;

  // Two lengths, or a length beside chunked coding: two parsers on the way
  // could frame the body differently (request smuggling).
  if (exchange.CountHeader("Content-Length") > 1 ||
      (exchange.CountHeader("Content-Length") > 0 && exchange.CountHeader("Transfer-Encoding") > 0)) {
    exchange.close_after = true;
    exchange.Send(
        "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 34\r\n"
        "Connection: close\r\n\r\nError 400: Bad Request\nBad Request");
    return 400;
  }

  // "OPTIONS *" and the like have no path at all, so no stream marker.
  const std::string_view path(exchange.target);
  request.decision = DecidePreface(path.substr(0, path.find('?')));

  switch (request.decision.action) {
    case PrefaceAction::kIdentify:
    case PrefaceAction::kCharset: {
      std::string body;
      if (request.decision.action == PrefaceAction::kIdentify) {
        platform::Trace("quarno.html 요청 들어옴~~ %%%%%%%%%%");
        body = IdentificationBody(options_.router_mac ? options_.router_mac()
                                                      : std::array<std::uint8_t, 6>{});
      } else {
        platform::Trace("ftp_charset 요청 들어옴~~ %%%%%%%%%%");
        body = CharsetBody(
            FtpCharsetIsUtf8(options_.ftp_charset ? options_.ftp_charset() : std::nullopt));
      }
      // The head says "Connection: Close" whatever was asked.
      exchange.close_after = true;
      std::string answer = StatusHead(body.size());
      if (!request.head_only) answer += body;
      exchange.Send(std::move(answer));
      return 200;
    }
    case PrefaceAction::kNoMarker: {
      const std::string answer = NoMarkerAnswer(request.keep_alive);
      const std::size_t head = answer.find("\r\n\r\n") + 4;
      exchange.Send(answer.substr(0, request.head_only ? head : answer.size()));
      return 404;
    }
    case PrefaceAction::kReject:
    case PrefaceAction::kServe:
      break;
  }
  if (const int refused = RefuseUnlessAllowed(request)) return refused;
  return Serve(request);
}

int HttpServer::RefuseUnlessAllowed(Request& request) {
  Exchange& exchange = *request.exchange;
  AccessRequest view;
  view.method = request.method;
  view.target = exchange.target;
  for (const auto& [name, value] : exchange.headers) {
    if (strcasecmp(name.c_str(), "Authorization") == 0) view.authorization.emplace_back(value);
  }
  view.tls = exchange.tls;
  view.peer = exchange.peer;
  view.token = StreamToken(request.decision.client_prefix);
  view.keep_alive = request.keep_alive;
  view.head_only = request.head_only;
  const AccessRules rules = options_.access ? options_.access() : stored_access_();
  const AccessVerdict verdict = DecideAccess(view, rules, nonce_mint_, options_.login_guard.get(),
                                             std::chrono::system_clock::now());
  if (verdict.allowed) return 0;
  if (!request.keep_alive || verdict.status == 403) exchange.close_after = true;
  exchange.Send(verdict.answer);
  return verdict.status;
}

namespace {

std::string ErrorAnswer(int status, const char* reason, const char* text, bool keep_alive,
                        bool head_only, const char* extra = "") {
  char body[160];
  const int length = std::snprintf(body, sizeof body, "Error %d: %s\n%s", status, reason, text);
  char head[320];
  std::snprintf(head, sizeof head,
                "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n%s"
                "Connection: %s\r\n\r\n",
                status, reason, length, extra, ConnectionText(keep_alive));
  return head_only ? std::string(head) : std::string(head) + body;
}

// The folder's password file, opened like any served file (no link).
std::string ReadPasswordFile(int folder_fd) {
  UniqueFd fd(::openat(folder_fd, ".htpasswd", O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  std::string text;
  if (!fd) return text;
  char buffer[4096];
  ssize_t n;
  while (text.size() < (1u << 20) && (n = ::read(fd.get(), buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

}  // namespace

int HttpServer::Serve(Request& request) {
  Exchange& exchange = *request.exchange;
  const PrefaceDecision& decision = request.decision;
  auto send = [&](const std::string& answer) { exchange.Send(answer); };
  auto not_found = [&] {
    send(ErrorAnswer(404, "Not Found", "File not found", request.keep_alive, request.head_only));
    return 404;
  };
  if (decision.action == PrefaceAction::kReject) return not_found();

  ServedNode node;
  const bool found = OpenServed(home_fd_, decision.path, node);

  if (node.guarded) {
    const char* authorization = exchange.Header("Authorization");
    if (!authorization ||
        !DigestAuthorized(authorization, request.method, exchange.target,
                          ReadPasswordFile(GuardingFolder(node)), std::time(nullptr))) {
      send(DigestChallenge(std::time(nullptr)));
      return 401;
    }
  }

  if (request.method == "OPTIONS") {
    // No length in the answer: the connection must end with it.
    exchange.close_after = true;
    send(
        "HTTP/1.1 200 OK\r\nAllow: GET, POST, HEAD, CONNECT, PUT, DELETE, OPTIONS\r\n"
        "DAV: 1\r\n\r\n");
    return 200;
  }
  if (decision.path.find(".htpasswd") != std::string::npos) {
    send(ErrorAnswer(403, "Forbidden", "Forbidden", request.keep_alive, request.head_only));
    return 403;
  }
  if (IsWriteMethod(request.method)) {
    // Nothing is ever written: no password file allows it.
    send(DigestChallenge(std::time(nullptr)));
    return 401;
  }
  const bool get_or_head = request.method == "GET" || request.method == "HEAD";
  const bool propfind = request.method == "PROPFIND";
  if (!get_or_head && !propfind) {
    send(ErrorAnswer(405, "Method Not Allowed", "Method Not Allowed", request.keep_alive,
                     request.head_only, "Allow: GET, HEAD, OPTIONS, PROPFIND\r\n"));
    return 405;
  }

  if (!found) {
    // A missing file may have a compressed sibling for clients that take it.
    const char* accept = exchange.Header("Accept-Encoding");
    if (get_or_head && accept && std::strstr(accept, "gzip") && decision.path.back() != '/') {
      ServedNode packed;
      if (OpenServed(home_fd_, decision.path + ".gz", packed) && !packed.directory()) {
        return ServeFile(request, packed, decision.path, true);
      }
    }
    return not_found();
  }

  if (node.directory() && decision.path.back() != '/') {
    std::string location = PercentEncodePath(decision.client_prefix + decision.path) + "/";
    if (const char* query = exchange.QueryString()) location += std::string("?") + query;
    send("HTTP/1.1 301 Moved Permanently\r\nLocation: " + location +
         "\r\nContent-Length: 0\r\nConnection: " + ConnectionText(request.keep_alive) + "\r\n\r\n");
    return 301;
  }
  if (propfind) return ServePropfind(request, node);
  if (node.directory()) return ServeFolder(request, node);
  return ServeFile(request, node, decision.path, false);
}

int HttpServer::ServeFolder(Request& request, ServedNode& node) {
  for (const char* index : {"index.html", "index.htm"}) {
    ServedNode page;
    if (OpenServed(home_fd_, request.decision.path + index, page) && !page.directory()) {
      return ServeFile(request, page, request.decision.path + index, false);
    }
  }
  auto slot = TakeListingSlot();
  if (!slot) {
    request.exchange->retry_later = true;
    return 0;
  }
  const std::string title = request.decision.client_prefix + request.decision.path;
  auto entries = std::make_shared<std::vector<FolderEntry>>(
      ListServed(home_fd_, request.decision.path, node.target.get()));
  SortFolderEntries(*entries);
  // Measured row by row, so the page is never whole in memory.
  std::string page_head = FolderPageHead(title);
  std::uint64_t length = page_head.size() + sizeof kFolderPageTail - 1;
  for (const FolderEntry& entry : *entries) length += FolderPageRow(entry).size();
  std::string answer = "HTTP/1.1 200 OK\r\nDate: " + DateNow() +
                       "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                       std::to_string(length) + "\r\nCache-Control: no-cache\r\nConnection: " +
                       ConnectionText(request.keep_alive) + "\r\n\r\n";
  if (request.head_only) {
    request.exchange->Send(std::move(answer));
    return 200;
  }
  request.exchange->Send(std::move(answer) + page_head);
  request.exchange->SendStream([entries, slot, next = std::size_t{0}](std::string& out) mutable {
    while (next < entries->size() && out.size() < kStreamPiece)
      out += FolderPageRow((*entries)[next++]);
    if (next < entries->size()) return true;
    out += kFolderPageTail;
    entries->clear();
    return false;
  });
  return 200;
}

int HttpServer::ServeFile(Request& request, ServedNode& node, const std::string& mime_path,
                          bool gzip) {
  Exchange& exchange = *request.exchange;
  const struct stat& status = node.status;
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::int64_t modified = status.st_mtim.tv_sec;
  const std::string etag =
      EntityTag(status.st_ino, size, modified * 1000000000LL + status.st_mtim.tv_nsec);
  const std::string last_modified = HttpDate(modified);
  const char* keep = ConnectionText(request.keep_alive);

  // Validators first: an unchanged file costs the client no body.
  const char* none_match = exchange.Header("If-None-Match");
  bool unchanged = false;
  if (none_match) {
    unchanged = EtagListed(none_match, etag);
  } else if (const char* since = exchange.Header("If-Modified-Since")) {
    const auto date = ParseHttpDate(since);
    unchanged = date && modified <= *date;
  }
  if (unchanged) {
    const std::string answer = "HTTP/1.1 304 Not Modified\r\nDate: " + DateNow() +
                               "\r\nLast-Modified: " + last_modified + "\r\nETag: " + etag +
                               "\r\nCache-Control: no-cache\r\nConnection: " + keep + "\r\n\r\n";
    exchange.Send(answer);
    return 304;
  }

  RangePlan plan;
  const char* range = request.head_only ? nullptr : exchange.Header("Range");
  if (range) {
    bool current = true;
    if (const char* if_range = exchange.Header("If-Range")) {
      const std::string_view value(if_range);
      if (!value.empty() && (value.front() == '"' || value.substr(0, 2) == "W/")) {
        current = value == etag;
      } else {
        const auto date = ParseHttpDate(value);
        current = date && *date == modified;
      }
    }
    if (current) plan = PlanRanges(range, size);
  }

  const char* mime = MimeType(mime_path);
  // Built in one string: this runs for every file a client fetches.
  std::string head;
  head.reserve(256);
  head.append("Date: ").append(DateNow());
  head.append("\r\nLast-Modified: ").append(last_modified);
  head.append("\r\nETag: ").append(etag);
  head.append("\r\nAccept-Ranges: bytes\r\nCache-Control: no-cache\r\n");
  if (gzip) head += "Content-Encoding: gzip\r\n";
  head.append("Connection: ").append(keep).append("\r\n");

  int status_code = 200;
  if (plan.verdict == RangeVerdict::kUnsatisfiable) {
    const std::string answer = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                               std::to_string(size) + "\r\nContent-Length: 0\r\n" + head + "\r\n";
    exchange.Send(answer);
    return 416;
  }
  const auto fd = std::make_shared<UniqueFd>(std::move(node.target));
  if (plan.verdict == RangeVerdict::kWhole) {
    std::string answer;
    answer.reserve(head.size() + 96);
    answer.append("HTTP/1.1 200 OK\r\nContent-Type: ").append(mime);
    answer.append("\r\nContent-Length: ").append(std::to_string(size)).append("\r\n");
    answer.append(head).append("\r\n");
    if (request.head_only) {
      exchange.Send(std::move(answer));
    } else {
      SendFileRange(exchange, fd, 0, size, std::move(answer));
    }
  } else if (plan.ranges.size() == 1) {
    status_code = 206;
    const ByteRange& r = plan.ranges.front();
    std::string answer = std::string("HTTP/1.1 206 Partial Content\r\nContent-Type: ") + mime +
                         "\r\nContent-Range: bytes " + std::to_string(r.first) + "-" +
                         std::to_string(r.last) + "/" + std::to_string(size) +
                         "\r\nContent-Length: " + std::to_string(r.length()) + "\r\n" + head +
                         "\r\n";
    SendFileRange(exchange, fd, r.first, r.length(), std::move(answer));
  } else {
    status_code = 206;
    const std::string boundary = Boundary();
    std::vector<std::string> part_heads;
    std::uint64_t total = 0;
    for (const ByteRange& r : plan.ranges) {
      part_heads.push_back("\r\n--" + boundary + "\r\nContent-Type: " + mime +
                           "\r\nContent-Range: bytes " + std::to_string(r.first) + "-" +
                           std::to_string(r.last) + "/" + std::to_string(size) + "\r\n\r\n");
      total += part_heads.back().size() + r.length();
    }
    const std::string tail = "\r\n--" + boundary + "--\r\n";
    total += tail.size();
    std::string answer =
        "HTTP/1.1 206 Partial Content\r\nContent-Type: multipart/byteranges; boundary=" + boundary +
        "\r\nContent-Length: " + std::to_string(total) + "\r\n" + head + "\r\n";
    for (std::size_t i = 0; i < plan.ranges.size(); ++i) {
      const ByteRange& r = plan.ranges[i];
      SendFileRange(exchange, fd, r.first, r.length(),
                    i == 0 ? answer + part_heads[i] : part_heads[i]);
    }
    exchange.Send(tail);
  }
  return status_code;
}

int HttpServer::ServePropfind(Request& request, ServedNode& node) {
  const PrefaceDecision& decision = request.decision;
  PropfindEntry self;
  const std::string self_href = PercentEncodePath(decision.client_prefix + decision.path);
  self.href = self_href;
  self.collection = node.directory();
  self.length = node.directory() ? 0 : static_cast<unsigned long long>(node.status.st_size);
  self.modified = node.status.st_mtim.tv_sec;

  auto items = std::make_shared<std::vector<FolderEntry>>();
  std::shared_ptr<ListingSlot> slot;
  const char* depth = request.exchange->Header("Depth");
  if (node.directory() && !(depth && std::string_view(depth) == "0")) {
    slot = TakeListingSlot();
    if (!slot) {
      request.exchange->retry_later = true;
      return 0;
    }
    *items = ListServed(home_fd_, decision.path, node.target.get());
  }
  std::string base = self_href;
  if (base.empty() || base.back() != '/') base += '/';
  auto entry_of = [base](const FolderEntry& item) {
    PropfindEntry entry;
    entry.href = base + PercentEncodePath(item.name) + (item.directory ? "/" : "");
    entry.collection = item.directory;
    entry.length = item.size;
    entry.modified = item.modified;
    return MultistatusEntry(entry);
  };
  std::string first = MultistatusHead() + MultistatusEntry(self);
  std::uint64_t length = first.size() + sizeof kMultistatusTail - 1;
  for (const FolderEntry& item : *items) length += entry_of(item).size();
  request.exchange->Send(
      "HTTP/1.1 207 Multi-Status\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
      std::to_string(length) + "\r\nConnection: " + ConnectionText(request.keep_alive) +
      "\r\n\r\n" + first);
  request.exchange->SendStream(
      [items, slot, entry_of, next = std::size_t{0}](std::string& out) mutable {
        while (next < items->size() && out.size() < kStreamPiece) out += entry_of((*items)[next++]);
        if (next < items->size()) return true;
        out += kMultistatusTail;
        items->clear();
        return false;
      });
  return 207;
}

}  // namespace quarno::httpd
