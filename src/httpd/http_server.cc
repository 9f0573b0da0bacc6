#include "httpd/http_server.h"

#include <civetweb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "httpd/connection_socket.h"
#include "httpd/share_files.h"
#include "platform/trace.h"

namespace quarno::httpd {
namespace {

// The user sees at most 200 bytes; never cut a UTF-8 sequence in half.
std::string Clip200(std::string text) {
  if (text.size() <= 200) return text;
  std::size_t end = 200;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

bool ValidPortText(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

int LogMessage(const mg_connection*, const char* message) {
  platform::Trace("httpd: %s", message);
  return 1;  // handled: nothing on stderr
}

int BeginRequest(mg_connection* connection) {
  auto* server = static_cast<HttpServer*>(mg_get_user_data(mg_get_context(connection)));
  return server->HandleRequest(connection);
}

// The library refuses methods it does not know before any request callback
// (1.15 knows no MOVE or COPY): a write method still gets its challenge.
int LibraryError(mg_connection* connection, int status, const char*) {
  const mg_request_info* info = mg_get_request_info(connection);
  if (status != 400 || !info || !info->request_method) return 1;
  const std::string method = info->request_method;
  if (method != "MOVE" && method != "COPY") return 1;
  auto* server = static_cast<HttpServer*>(mg_get_user_data(mg_get_context(connection)));
  return server->HandleRequest(connection) > 0 ? 0 : 1;
}

int InitConnection(const mg_connection* connection, void**) {
  static_cast<HttpServer*>(mg_get_user_data(mg_get_context(connection)))->ConnectionOpened();
  return 0;
}

void CloseConnection(const mg_connection* connection) {
  static_cast<HttpServer*>(mg_get_user_data(mg_get_context(connection)))->ConnectionClosed();
}

}  // namespace

void HttpServer::ConnectionOpened() {
  const int share = std::max(1, options_.connections_per_address);
  if (++open_connections_ <= share) return;
  // One look at a time, each on the table as it is then.
  std::lock_guard lock(sweep_mutex_);
  // The worker's first read sees the end, and the library closes the
  // connection without waiting for a request.
  for (int fd : ConnectionsPastTheShare(std::atoi(options_.port_text.c_str()), share)) {
    platform::Trace("httpd: a client address has more than %d connections; ending one", share);
    ::shutdown(fd, SHUT_RDWR);
  }
}

void HttpServer::ConnectionClosed() { --open_connections_; }

bool FtpCharsetIsUtf8(const std::optional<std::string>& setting) {
  return setting && *setting == "UTF-8";
}

HttpServer::~HttpServer() { StopHttpServer(); }

bool HttpServer::StartHttpServer(const HttpServerOptions& options, std::string* failure_message) {
  auto fail = [&](std::string text) {
    if (failure_message) *failure_message = Clip200(std::move(text));
    return false;
  };
  std::lock_guard lock(mutex_);
  if (context_) return fail(kStartFailedText);

  // The library takes any document_root without looking at it.
  std::error_code error;
  if (!std::filesystem::is_directory(options.document_root, error)) {
    if (!error) error = std::make_error_code(std::errc::not_a_directory);
    char text[200];
    std::snprintf(text, sizeof text, "Invalid root directory: [%s]: %s",
                  options.document_root.c_str(), error.message().c_str());
    return fail(text);
  }
  if (!ValidPortText(options.port_text) || options.num_threads < 1) {
    return fail(kStartFailedText);
  }
  const int home_fd = OpenHomeFolder(options.document_root);
  if (home_fd < 0) return fail(kStartFailedText);

  const std::string ports = options.listen_address.empty()
                                ? options.port_text
                                : options.listen_address + ":" + options.port_text;
  const std::string threads = std::to_string(options.num_threads);
  // Every option the server's behaviour rests on is set here, so a change of
  // the library's defaults cannot change what is served. The library serves
  // nothing itself (HandleRequest answers every request); keep-alive is on so
  // that a request asking for it gets it, and HandleRequest closes the rest.
  const char* table[] = {
      "listening_ports",
      ports.c_str(),
      "document_root",
      options.document_root.c_str(),
      "num_threads",
      threads.c_str(),
      "enable_directory_listing",
      "no",
      "index_files",
      "index.html,index.htm",
      "enable_keep_alive",
      "yes",
      "keep_alive_timeout_ms",
      "500",
      "request_timeout_ms",
      "30000",
      "max_request_size",
      "16384",
      "authentication_domain",
      "mydomain.com",
      "cgi_pattern",
      "",
      "ssi_pattern",
      "",
      "decode_url",
      "no",
      nullptr,
      nullptr,
  };

  mg_callbacks callbacks{};
  callbacks.begin_request = &BeginRequest;
  callbacks.log_message = &LogMessage;
  callbacks.http_error = &LibraryError;
  callbacks.init_connection = &InitConnection;
  callbacks.connection_closed = &CloseConnection;

  options_ = options;
  open_connections_ = 0;
  home_fd_ = home_fd;
  stopping_ = false;
  mg_init_library(0);
  mg_context* context = mg_start(&callbacks, this, table);
  if (!context) {
    mg_exit_library();
    ::close(home_fd_);
    home_fd_ = -1;
    return fail(kStartFailedText);
  }
  context_ = context;
  platform::Trace("httpd: serving %s on port %s", options.document_root.c_str(), ports.c_str());
  return true;
}

void HttpServer::StopHttpServer() {
  std::lock_guard lock(mutex_);
  if (!context_) return;
  stopping_ = true;
  // mg_stop waits for the master thread, which waits for the workers.
  mg_stop(context_);
  context_ = nullptr;
  ::close(home_fd_);
  home_fd_ = -1;
  stopping_ = false;
  mg_exit_library();
}

bool HttpServer::Running() const {
  std::lock_guard lock(mutex_);
  return context_ != nullptr;
}

}  // namespace quarno::httpd
