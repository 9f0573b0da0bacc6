#include <civetweb.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "httpd/http_server.h"
#include "httpd/propfind.h"
#include "httpd/request_preface.h"
#include "httpd/server_state.h"
#include "platform/trace.h"

namespace quarno::httpd {
namespace {

namespace fs = std::filesystem;

int SendStatusAnswer(mg_connection* connection, const std::string& body) {
  const std::string head = StatusHead(body.size());
  mg_write(connection, head.data(), head.size());
  mg_write(connection, body.data(), body.size());
  return 200;
}

int SendNotFound(mg_connection* connection) {
  mg_send_http_error(connection, 404, "%s", "Not found");
  return 404;
}

bool IsWithin(const fs::path& path, const fs::path& base) {
  auto [base_end, path_end] = std::mismatch(base.begin(), base.end(), path.begin(), path.end());
  return base_end == base.end();
}

// The share links in the home folder lead out of it on purpose; nothing else
// may: a symlink inside a share that points elsewhere is not followed.
bool StaysInsideServedTree(const detail::ServerState& state, const std::string& path) {
  std::error_code error;
  fs::path root(state.real_root);
  fs::path relative = fs::path(path).relative_path();
  fs::path base = root;
  if (!relative.empty()) {
    fs::path first = root / *relative.begin();
    if (fs::is_symlink(first, error)) {
      base = fs::canonical(first, error);
      if (error) return true;  // dangling link: the library answers 404
    }
  }
  fs::path resolved = fs::weakly_canonical(root / relative, error);
  if (error) return false;
  return IsWithin(resolved, base);
}

// The library does not always open the path it was given: a directory gives
// its first index file, a missing file its ".gz" sibling (for clients that
// take gzip). That file is what must stay inside; empty when none exists.
std::string LibraryTarget(const detail::ServerState& state, const std::string& path) {
  std::error_code error;
  const fs::path target = fs::path(state.real_root) / fs::path(path).relative_path();
  const fs::file_status status = fs::status(target, error);
  if (fs::is_directory(status)) {
    const std::string folder = path.empty() || path.back() != '/' ? path + "/" : path;
    for (const char* index : {"index.html", "index.htm"}) {
      if (fs::exists(target / index, error)) return folder + index;
    }
    return path;
  }
  if (fs::exists(status)) return path;
  if (fs::exists(fs::path(target.string() + ".gz"), error)) return path + ".gz";
  return "";
}

// Opening a FIFO blocks the worker until some writer comes, and
// StopHttpServer waits for every worker; devices are no files either.
bool IsFileOrFolder(const detail::ServerState& state, const std::string& path) {
  std::error_code error;
  const fs::file_status status =
      fs::status(fs::path(state.real_root) / fs::path(path).relative_path(), error);
  return !fs::exists(status) || fs::is_regular_file(status) || fs::is_directory(status);
}

bool IsGetHeadOrPropfind(const char* method) {
  return !std::strcmp(method, "GET") || !std::strcmp(method, "HEAD") ||
         !std::strcmp(method, "PROPFIND");
}

// The library's redirect would send the raw request text; this one sends the
// client's own prefix, percent-encoded, and does not depend on the library's
// view of the path length after the rewrite.
bool RedirectDirectory(mg_connection* connection, const mg_request_info* info,
                       const detail::ServerState& state, const PrefaceDecision& decision) {
  if (decision.path.empty() || decision.path.back() == '/') return false;
  if (!IsGetHeadOrPropfind(info->request_method)) return false;
  std::error_code error;
  fs::path target = fs::path(state.real_root) / fs::path(decision.path).relative_path();
  if (!fs::is_directory(target, error)) return false;
  // A protected folder answers the challenge first; the library does that.
  if (fs::exists(target / ".htpasswd", error)) return false;
  std::string location = PercentEncodePath(decision.client_prefix + decision.path) + "/";
  if (info->query_string) location += std::string("?") + info->query_string;
  mg_send_http_redirect(connection, location.c_str(), 301);
  return true;
}

// The library reads one range the way sscanf does and gets the arithmetic
// wrong past the end of the file: a start at or after the end, or an end
// before the start, makes a negative Content-Length; an end at or after the
// size announces one byte more than it sends, which stalls or desyncs the
// client. The first kind is answered 416 here; the second is clamped in the
// header itself (the library's private buffer; the text only gets shorter).
int CheckRange(mg_connection* connection, const detail::ServerState& state,
               const std::string& served) {
  char* range = const_cast<char*>(mg_get_header(connection, "Range"));
  // The library refuses or challenges these first; a 416 would tell the size.
  if (!range || served.empty() || served.find(".htpasswd") != std::string::npos) return 0;
  long long first = 0, last = 0;
  const int fields = std::sscanf(range, "bytes=%lld-%lld", &first, &last);
  if (fields <= 0 || first < 0 || last < 0) return 0;  // the library ignores it
  std::error_code error;
  const fs::path file = fs::path(state.real_root) / fs::path(served).relative_path();
  if (!fs::is_regular_file(file, error)) return 0;
  const std::string password_file = (file.parent_path() / ".htpasswd").string();
  if (fs::exists(password_file, error) &&
      mg_check_digest_access_authentication(connection, nullptr, password_file.c_str()) <= 0) {
    return 0;
  }
  const auto size = static_cast<long long>(fs::file_size(file, error));
  if (error) return 0;
  if (first >= size || (fields == 2 && last < first)) {
    char answer[160];
    std::snprintf(answer, sizeof answer,
                  "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%lld\r\n"
                  "Content-Length: 0\r\nConnection: close\r\n\r\n",
                  size);
    mg_write(connection, answer, std::strlen(answer));
    return 416;
  }
  if (fields == 2 && last >= size) {
    char clamped[64];
    const int length = std::snprintf(clamped, sizeof clamped, "bytes=%lld-%lld", first, size - 1);
    if (length > 0 && static_cast<std::size_t>(length) <= std::strlen(range)) {
      std::memcpy(range, clamped, static_cast<std::size_t>(length) + 1);
    }
  }
  return 0;
}

// Hands the rewritten, decoded path to the library in its own buffer (it
// is the library's private copy and only ever gets shorter here).
void RewriteForLibrary(mg_request_info* info, const std::string& path) {
  char* buffer = const_cast<char*>(info->local_uri);
  const std::size_t old_length = std::strlen(buffer);
  if (path.size() >= old_length) return;  // unchanged
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  // The library tests the last byte of the path at the length it measured
  // before this callback; keep that byte equal to the new last byte.
  if (!path.empty() && path.size() + 1 < old_length) buffer[old_length - 1] = path.back();
}

}  // namespace

int HandleRequest(mg_connection* connection) {
  auto* info = const_cast<mg_request_info*>(mg_get_request_info(connection));
  const auto* state = static_cast<const detail::ServerState*>(
      mg_get_user_data(mg_get_context(connection)));
  // Without its state the preface cannot judge the path: refuse, never pass.
  if (!info || !state) return SendNotFound(connection);
  // "OPTIONS *" and the like have no path at all, so no stream marker.
  const char* uri = info->local_uri ? info->local_uri : "";
  PrefaceDecision decision = DecidePreface(uri);

  switch (decision.action) {
    case PrefaceAction::kIdentify:
      platform::Trace("quarno.html 요청 들어옴~~ %%%%%%%%%%");
      return SendStatusAnswer(connection, IdentificationBody(RouterMac()));
    case PrefaceAction::kCharset:
      platform::Trace("ftp_charset 요청 들어옴~~ %%%%%%%%%%");
      return SendStatusAnswer(connection, CharsetBody(FtpCharsetUtf8()));
    case PrefaceAction::kNoMarker: {
      const char* header = mg_get_header(connection, "Connection");
      const std::string answer = NoMarkerAnswer(header && !strcasecmp(header, "keep-alive"));
      mg_write(connection, answer.data(), answer.size());
      return 404;
    }
    case PrefaceAction::kReject:
      return SendNotFound(connection);
    case PrefaceAction::kServe:
      break;
  }
  if (!info->local_uri) return SendNotFound(connection);
  if (!StaysInsideServedTree(*state, decision.path)) return SendNotFound(connection);
  const std::string served = LibraryTarget(*state, decision.path);
  if (!served.empty() && served != decision.path && !StaysInsideServedTree(*state, served)) {
    return SendNotFound(connection);
  }
  if (!served.empty() && !IsFileOrFolder(*state, served)) return SendNotFound(connection);
  if (RedirectDirectory(connection, info, *state, decision)) return 301;
  if (!std::strcmp(info->request_method, "PROPFIND") &&
      decision.path.find(".htpasswd") == std::string::npos) {
    int status = ServePropfind(connection, state->real_root, decision);
    if (status > 0) return status;
  }
  if (!std::strcmp(info->request_method, "GET") || !std::strcmp(info->request_method, "HEAD")) {
    if (int status = CheckRange(connection, *state, served)) return status;
  }
  RewriteForLibrary(info, decision.path);
  return 0;
}

}  // namespace quarno::httpd
