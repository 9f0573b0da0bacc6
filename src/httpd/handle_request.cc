#include <civetweb.h>
#include <strings.h>

#include <algorithm>
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
  if (RedirectDirectory(connection, info, *state, decision)) return 301;
  if (!std::strcmp(info->request_method, "PROPFIND") &&
      decision.path.find(".htpasswd") == std::string::npos) {
    int status = ServePropfind(connection, state->real_root, decision);
    if (status > 0) return status;
  }
  RewriteForLibrary(info, decision.path);
  return 0;
}

}  // namespace quarno::httpd
