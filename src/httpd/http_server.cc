#include "httpd/http_server.h"

#include <civetweb.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "httpd/server_state.h"
#include "platform/trace.h"

namespace quarno::httpd {
namespace {

std::atomic<std::uint64_t> g_router_mac{0};
std::atomic<bool> g_ftp_charset_utf8{false};

std::mutex g_mutex;  // start and stop
mg_context* g_context = nullptr;
std::unique_ptr<detail::ServerState> g_state;

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

}  // namespace

void SetRouterMac(const std::array<std::uint8_t, 6>& mac) {
  std::uint64_t packed = 0;
  for (std::uint8_t byte : mac) packed = (packed << 8) | byte;
  g_router_mac.store(packed, std::memory_order_relaxed);
}

std::array<std::uint8_t, 6> RouterMac() {
  std::uint64_t packed = g_router_mac.load(std::memory_order_relaxed);
  std::array<std::uint8_t, 6> mac{};
  for (int i = 5; i >= 0; --i, packed >>= 8) mac[static_cast<std::size_t>(i)] = packed & 0xFF;
  return mac;
}

void SetFtpCharsetUtf8(bool utf8) { g_ftp_charset_utf8.store(utf8, std::memory_order_relaxed); }
bool FtpCharsetUtf8() { return g_ftp_charset_utf8.load(std::memory_order_relaxed); }

bool StartHttpServer(const std::string& port_text, const std::string& document_root,
                     std::string* failure_message) {
  HttpServerOptions options;
  options.port_text = port_text;
  options.document_root = document_root;
  return StartHttpServer(options, failure_message);
}

bool StartHttpServer(const HttpServerOptions& options, std::string* failure_message) {
  auto fail = [&](std::string text) {
    if (failure_message) *failure_message = Clip200(std::move(text));
    return false;
  };
  std::lock_guard lock(g_mutex);
  if (g_context) return fail(kStartFailedText);

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

  auto state = std::make_unique<detail::ServerState>();
  state->document_root = options.document_root;
  state->real_root = std::filesystem::canonical(options.document_root, error).string();
  if (error) return fail(kStartFailedText);

  const std::string ports = options.listen_address.empty()
                                ? options.port_text
                                : options.listen_address + ":" + options.port_text;
  const std::string threads = std::to_string(options.num_threads);
  // Every option the server's behaviour rests on is set here, so a change of
  // the library's defaults cannot change what is served. No executable
  // content: the home folder is writable over FTP and readable by anyone.
  const char* table[] = {
      "listening_ports", ports.c_str(),
      "document_root", options.document_root.c_str(),
      "num_threads", threads.c_str(),
      "enable_directory_listing", "yes",
      "index_files", "index.html,index.htm",
      "enable_keep_alive", "no",
      "max_request_size", "16384",
      "authentication_domain", "mydomain.com",
      "cgi_pattern", "",
      "ssi_pattern", "",
      // The preface decodes: the library's own decoding mishandles
      // percent-encoded directory names.
      "decode_url", "no",
      nullptr, nullptr,
  };

  mg_callbacks callbacks{};
  callbacks.begin_request = &HandleRequest;
  callbacks.log_message = &LogMessage;

  mg_init_library(0);
  mg_context* context = mg_start(&callbacks, state.get(), table);
  if (!context) {
    mg_exit_library();
    return fail(kStartFailedText);
  }
  g_context = context;
  g_state = std::move(state);
  platform::Trace("httpd: serving %s on port %s", options.document_root.c_str(), ports.c_str());
  return true;
}

void StopHttpServer() {
  std::lock_guard lock(g_mutex);
  if (!g_context) return;
  // mg_stop ends transfers in progress and waits for the master thread.
  mg_stop(g_context);
  g_context = nullptr;
  g_state.reset();
  mg_exit_library();
}

bool HttpServerRunning() {
  std::lock_guard lock(g_mutex);
  return g_context != nullptr;
}

}  // namespace quarno::httpd
