#include <civetweb.h>
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

#include "httpd/connection_socket.h"
#include "httpd/file_response.h"
#include "httpd/http_server.h"
#include "httpd/propfind.h"
#include "httpd/request_preface.h"
#include "httpd/share_files.h"
#include "httpd/share_link.h"
#include "platform/trace.h"

namespace quarno::httpd {

struct HttpServer::Request {
  mg_connection* connection = nullptr;
  mg_request_info* info = nullptr;
  std::string method;
  bool head_only = false;
  bool keep_alive = false;
  PrefaceDecision decision;
};

namespace {

// Bodies go out in pieces this big: few enough calls to keep up with the
// kernel's own copy, small enough that a stop ends a transfer quickly.
constexpr std::size_t kChunk = 256 * 1024;
// From this size on the kernel sends the file (sendfile): finding the
// socket costs a look at every descriptor, nothing next to the copy saved.
constexpr std::uint64_t kZeroCopyFrom = 4u << 20;
constexpr int kIdleTimeoutMs = 30000;  // as the library's request_timeout_ms

const char* ConnectionText(bool keep_alive) { return keep_alive ? "keep-alive" : "close"; }

// The library keeps a connection open when the request's Connection header
// asks for it (or HTTP/1.1 has none); this one keeps it only on an explicit
// "keep-alive". Rewriting the header the library reads afterwards is the one
// way to tell it.
void CloseAfterAnswer(mg_request_info* info) {
  static const char kClose[] = "close";
  static const char kName[] = "Connection";
  bool found = false;
  for (int i = 0; i < info->num_headers; ++i) {
    if (!strcasecmp(info->http_headers[i].name, "Connection")) {
      info->http_headers[i].value = kClose;
      found = true;
    }
  }
  if (found) return;
  if (info->num_headers < MG_MAX_HEADERS) {
    info->http_headers[info->num_headers].name = kName;
    info->http_headers[info->num_headers].value = kClose;
    ++info->num_headers;
  } else {
    info->http_version = "1.0";  // the other way to say close; only its own answers show it
  }
}

bool IsWriteMethod(const std::string& method) {
  for (const char* name :
       {"PUT", "DELETE", "MKCOL", "PATCH", "PROPPATCH", "LOCK", "UNLOCK", "MOVE", "COPY"}) {
    if (method == name) return true;
  }
  return false;
}

int CountHeaders(const mg_request_info* info, const char* name) {
  int count = 0;
  for (int i = 0; i < info->num_headers; ++i) {
    if (!strcasecmp(info->http_headers[i].name, name)) ++count;
  }
  return count;
}

// The clock's text changes once a second; the formatting is not free.
std::string DateNow() {
  thread_local std::time_t cached_at = 0;
  thread_local std::string cached;
  const std::time_t now = std::time(nullptr);
  if (now != cached_at) {
    cached = HttpDate(now);
    cached_at = now;
  }
  return cached;
}

char* ChunkBuffer() {
  thread_local std::unique_ptr<char[]> buffer;
  // Not zeroed: a worker that only ever sends small files touches a few pages.
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kChunk);
  return buffer.get();
}

std::string Boundary() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  char text[40];
  std::snprintf(text, sizeof text, "quarno-%016llx", static_cast<unsigned long long>(random()));
  return text;
}

}  // namespace

bool HttpServer::SendAll(mg_connection* connection, const char* data, std::size_t size) {
  if (size == 0) return true;
  return mg_write(connection, data, size) == static_cast<int>(size);
}

// Reads with pread, so ranges of one file from many connections never share
// an offset. The head, when given, leaves with the first piece.
bool HttpServer::SendFileRange(mg_connection* connection, int fd, std::uint64_t offset,
                               std::uint64_t length, std::string prefix) {
  if (length >= kZeroCopyFrom) {
    const mg_request_info* info = mg_get_request_info(connection);
    const int socket_fd =
        FindConnectionSocket(info->remote_addr, info->remote_port, info->server_port);
    if (socket_fd >= 0) {
      if (!SendAll(connection, prefix.data(), prefix.size())) return false;
      return SendFileToSocket(socket_fd, fd, offset, length, kIdleTimeoutMs, [this] {
               return stopping_.load(std::memory_order_relaxed);
             }) == SendResult::kDone;
    }
  }
  char* buffer = ChunkBuffer();
  std::size_t used = std::min(prefix.size(), kChunk);
  if (prefix.size() > kChunk) {
    if (!SendAll(connection, prefix.data(), prefix.size())) return false;
    used = 0;
  } else {
    std::memcpy(buffer, prefix.data(), used);
  }
  while (length > 0 || used > 0) {
    if (stopping_.load(std::memory_order_relaxed)) return false;
    const std::size_t room = kChunk - used;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(room, length));
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n =
          ::pread(fd, buffer + used + got, want - got, static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // shrunk under us: the length announced is wrong now
      got += static_cast<std::size_t>(n);
    }
    offset += got;
    length -= got;
    if (!SendAll(connection, buffer, used + got)) return false;
    used = 0;
  }
  return true;
}

int HttpServer::HandleRequest(mg_connection* connection) {
  Request request;
  request.connection = connection;
  request.info = const_cast<mg_request_info*>(mg_get_request_info(connection));
  if (!request.info) return 500;
  mg_request_info* info = request.info;
  request.method = info->request_method ? info->request_method : "";
  request.head_only = request.method == "HEAD";
  const char* connection_header = mg_get_header(connection, "Connection");
  request.keep_alive = connection_header && !strcasecmp(connection_header, "keep-alive");
  if (!request.keep_alive) CloseAfterAnswer(info);

  // Two lengths, or a length beside chunked coding: two parsers on the way
  // could frame the body differently (request smuggling).
  if (CountHeaders(info, "Content-Length") > 1 ||
      (CountHeaders(info, "Content-Length") > 0 && CountHeaders(info, "Transfer-Encoding") > 0)) {
    CloseAfterAnswer(info);
    static const char kBad[] =
        "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 27\r\n"
        "Connection: close\r\n\r\nError 400: Bad Request\nBad";
    SendAll(connection, kBad, sizeof kBad - 1);
    return 400;
  }

  // "OPTIONS *" and the like have no path at all, so no stream marker.
  // (A request the library refused early has only its request_uri.)
  const char* uri = info->local_uri_raw ? info->local_uri_raw
                    : info->request_uri ? info->request_uri
                                        : "";
  const std::string_view path(uri);
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
      CloseAfterAnswer(info);
      std::string answer = StatusHead(body.size());
      if (!request.head_only) answer += body;
      SendAll(connection, answer.data(), answer.size());
      return 200;
    }
    case PrefaceAction::kNoMarker: {
      const std::string answer = NoMarkerAnswer(request.keep_alive);
      const std::size_t head = answer.find("\r\n\r\n") + 4;
      SendAll(connection, answer.data(), request.head_only ? head : answer.size());
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
  const mg_request_info* info = request.info;
  AccessRequest view;
  view.method = request.method;
  std::string target = info->local_uri_raw ? info->local_uri_raw
                       : info->request_uri  ? info->request_uri
                                            : "";
  if (info->query_string) target += std::string("?") + info->query_string;
  view.target = target;
  for (int i = 0; i < info->num_headers; ++i) {
    if (!strcasecmp(info->http_headers[i].name, "Authorization")) {
      view.authorization.emplace_back(info->http_headers[i].value);
    }
  }
  view.tls = info->is_ssl != 0;
  view.peer = info->remote_addr;
  view.token = StreamToken(request.decision.client_prefix);
  view.keep_alive = request.keep_alive;
  view.head_only = request.head_only;
  const AccessRules rules = options_.access ? options_.access() : stored_access_();
  const AccessVerdict verdict = DecideAccess(view, rules, nonce_mint_, options_.login_guard.get(),
                                             std::chrono::system_clock::now());
  if (verdict.allowed) return 0;
  if (!request.keep_alive || verdict.status == 403) CloseAfterAnswer(request.info);
  SendAll(request.connection, verdict.answer.data(), verdict.answer.size());
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

// The folder whose ".htpasswd" guards the target: its own for a folder.
int GuardingFolder(const ServedNode& node) {
  if (node.target && node.directory()) return node.target.get();
  return node.folder ? node.folder.get() : -1;
}

}  // namespace

int HttpServer::Serve(Request& request) {
  mg_connection* connection = request.connection;
  const PrefaceDecision& decision = request.decision;
  auto send = [&](const std::string& answer) { SendAll(connection, answer.data(), answer.size()); };
  auto not_found = [&] {
    send(ErrorAnswer(404, "Not Found", "File not found", request.keep_alive, request.head_only));
    return 404;
  };
  if (decision.action == PrefaceAction::kReject) return not_found();

  ServedNode node;
  const bool found = OpenServed(home_fd_, decision.path, node);

  const int guard = GuardingFolder(node);
  struct stat password_status {};
  if (guard >= 0 && ::fstatat(guard, ".htpasswd", &password_status, AT_SYMLINK_NOFOLLOW) == 0) {
    const std::string password_file = "/proc/self/fd/" + std::to_string(guard) + "/.htpasswd";
    if (mg_check_digest_access_authentication(connection, nullptr, password_file.c_str()) <= 0) {
      mg_send_digest_access_authentication_request(connection, nullptr);
      return 401;
    }
  }

  if (request.method == "OPTIONS") {
    // No length in the answer: the connection must end with it.
    CloseAfterAnswer(request.info);
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
    char challenge[200];
    std::snprintf(challenge, sizeof challenge,
                  "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nWWW-Authenticate: Digest "
                  "qop=\"auth\", realm=\"%s\", nonce=\"%lu\"\r\n\r\n",
                  "mydomain.com", static_cast<unsigned long>(std::time(nullptr)));
    send(challenge);
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
    const char* accept = mg_get_header(connection, "Accept-Encoding");
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
    if (request.info->query_string) location += std::string("?") + request.info->query_string;
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
  const std::string title = request.decision.client_prefix + request.decision.path;
  const std::string body =
      FolderPage(title, ListServed(home_fd_, request.decision.path, node.target.get()));
  std::string answer = "HTTP/1.1 200 OK\r\nDate: " + DateNow() +
                       "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nCache-Control: no-cache\r\nConnection: " +
                       ConnectionText(request.keep_alive) + "\r\n\r\n";
  if (!request.head_only) answer += body;
  SendAll(request.connection, answer.data(), answer.size());
  return 200;
}

int HttpServer::ServeFile(Request& request, ServedNode& node, const std::string& mime_path,
                          bool gzip) {
  mg_connection* connection = request.connection;
  const struct stat& status = node.status;
  const auto size = static_cast<std::uint64_t>(status.st_size);
  const std::int64_t modified = status.st_mtim.tv_sec;
  const std::string etag =
      EntityTag(status.st_ino, size, modified * 1000000000LL + status.st_mtim.tv_nsec);
  const std::string last_modified = HttpDate(modified);
  const char* keep = ConnectionText(request.keep_alive);

  // Validators first: an unchanged file costs the client no body.
  const char* none_match = mg_get_header(connection, "If-None-Match");
  bool unchanged = false;
  if (none_match) {
    unchanged = EtagListed(none_match, etag);
  } else if (const char* since = mg_get_header(connection, "If-Modified-Since")) {
    const auto date = ParseHttpDate(since);
    unchanged = date && modified <= *date;
  }
  if (unchanged) {
    const std::string answer = "HTTP/1.1 304 Not Modified\r\nDate: " + DateNow() +
                               "\r\nLast-Modified: " + last_modified + "\r\nETag: " + etag +
                               "\r\nCache-Control: no-cache\r\nConnection: " + keep + "\r\n\r\n";
    SendAll(connection, answer.data(), answer.size());
    return 304;
  }

  RangePlan plan;
  const char* range = request.head_only ? nullptr : mg_get_header(connection, "Range");
  if (range) {
    bool current = true;
    if (const char* if_range = mg_get_header(connection, "If-Range")) {
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

  const char* mime = mg_get_builtin_mime_type(mime_path.c_str());
  std::string head = "Date: " + DateNow() + "\r\nLast-Modified: " + last_modified +
                     "\r\nETag: " + etag +
                     "\r\nAccept-Ranges: bytes\r\nCache-Control: no-cache\r\n";
  if (gzip) head += "Content-Encoding: gzip\r\n";
  head += std::string("Connection: ") + keep + "\r\n";

  bool complete = true;
  int status_code = 200;
  if (plan.verdict == RangeVerdict::kUnsatisfiable) {
    const std::string answer = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                               std::to_string(size) + "\r\nContent-Length: 0\r\n" + head + "\r\n";
    SendAll(connection, answer.data(), answer.size());
    return 416;
  }
  const int fd = node.target.get();
  if (plan.verdict == RangeVerdict::kWhole) {
    std::string answer = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + mime +
                         "\r\nContent-Length: " + std::to_string(size) + "\r\n" + head + "\r\n";
    if (request.head_only) {
      SendAll(connection, answer.data(), answer.size());
    } else {
      complete = SendFileRange(connection, fd, 0, size, std::move(answer));
    }
  } else if (plan.ranges.size() == 1) {
    status_code = 206;
    const ByteRange& r = plan.ranges.front();
    std::string answer = std::string("HTTP/1.1 206 Partial Content\r\nContent-Type: ") + mime +
                         "\r\nContent-Range: bytes " + std::to_string(r.first) + "-" +
                         std::to_string(r.last) + "/" + std::to_string(size) +
                         "\r\nContent-Length: " + std::to_string(r.length()) + "\r\n" + head +
                         "\r\n";
    complete = SendFileRange(connection, fd, r.first, r.length(), std::move(answer));
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
    for (std::size_t i = 0; complete && i < plan.ranges.size(); ++i) {
      const ByteRange& r = plan.ranges[i];
      complete = SendFileRange(connection, fd, r.first, r.length(),
                               i == 0 ? answer + part_heads[i] : part_heads[i]);
    }
    if (complete) complete = SendAll(connection, tail.data(), tail.size());
  }
  // The length announced was not delivered: only closing tells the client.
  if (!complete) CloseAfterAnswer(request.info);
  return status_code;
}

int HttpServer::ServePropfind(Request& request, ServedNode& node) {
  const PrefaceDecision& decision = request.decision;
  std::vector<PropfindEntry> entries(1);
  const std::string self_href = PercentEncodePath(decision.client_prefix + decision.path);
  entries[0].href = self_href;
  entries[0].collection = node.directory();
  entries[0].length = node.directory() ? 0 : static_cast<unsigned long long>(node.status.st_size);
  entries[0].modified = node.status.st_mtim.tv_sec;

  const char* depth = mg_get_header(request.connection, "Depth");
  if (node.directory() && !(depth && std::string_view(depth) == "0")) {
    std::string base = self_href;
    if (base.empty() || base.back() != '/') base += '/';
    for (FolderEntry& item : ListServed(home_fd_, decision.path, node.target.get())) {
      PropfindEntry entry;
      entry.href = base + PercentEncodePath(item.name) + (item.directory ? "/" : "");
      entry.collection = item.directory;
      entry.length = item.size;
      entry.modified = item.modified;
      entries.push_back(std::move(entry));
    }
  }
  const std::string body = MultistatusBody(entries);
  const std::string answer =
      "HTTP/1.1 207 Multi-Status\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\nConnection: " + ConnectionText(request.keep_alive) +
      "\r\n\r\n" + body;
  SendAll(request.connection, answer.data(), answer.size());
  return 207;
}

}  // namespace quarno::httpd
