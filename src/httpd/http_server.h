#pragma once
// The read-only HTTP/WebDAV file server: CivetWeb keeps the connections, the
// parsing and the threads; every request goes through `HandleRequest`, which
// answers the status requests and serves the home folder itself.
//
// Use (any number of servers per process, each with its own port):
//   HttpServer server;
//   HttpServerOptions options{.port_text = "8080", .document_root = HomeFolder()};
//   options.router_mac = [] { return CurrentRouterMac(); };
//   options.ftp_charset = [] { return ReadFtpCharsetSetting(); };
//   std::string failure;
//   if (!server.StartHttpServer(options, &failure)) {
//     // show `failure` in a message box captioned kStartFailureCaption, exit(1)
//   }
//   ...
//   server.StopHttpServer();   // also ends downloads in progress
//
// The library never exits the process; ending the program on a start failure
// is the caller's duty (the message texts are the ones the user must see).
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <memory>
#include <string>

#include "httpd/http_access.h"

struct mg_connection;
struct mg_context;

namespace quarno::httpd {

using MacProvider = std::function<std::array<std::uint8_t, 6>()>;
// The setting `Ftp_charset` as stored; nullopt when it is missing.
using CharsetProvider = std::function<std::optional<std::string>()>;

// One rule for the FTP charset setting: "UTF-8" means UTF-8; anything else,
// a missing value included, means EUC-KR.
bool FtpCharsetIsUtf8(const std::optional<std::string>& setting);

struct HttpServerOptions {
  // Decimal port, no address or suffix ("8080").
  std::string port_text;
  // The home folder; must be an existing directory.
  std::string document_root;
  // Empty: all local addresses (the product). Tests pass "127.0.0.1".
  std::string listen_address;
  // Worker threads. CivetWeb gives each connection a thread for its whole
  // life, idle or slow ones included; enough of them keep a few hundred
  // such connections from locking everyone else out (about 16 KiB each).
  int num_threads = 256;
  // Connections one client address may hold at once: half the workers, so
  // that an address keeping idle connections open (each holds a worker until
  // the request time-out) leaves the rest to others. CivetWeb 1.15 has no
  // such limit; past it the server ends the address's extra connections.
  int connections_per_address = 128;
  // Read for each "/quarno.html" and "/ftp_charset", on worker threads, so
  // a change is answered from the next request on. Unset: zeros / missing.
  MacProvider router_mac;
  CharsetProvider ftp_charset;
  // Who may read under the stream marker. Unset: the programs' stored
  // settings (StoredHttpAccess), so no server is ever open by omission.
  AccessProvider access;
  // The per-address ban shared with the FTP logins; null: none.
  std::shared_ptr<LoginGuard> login_guard;
};

inline constexpr char kStartFailureCaption[] = "Error";
inline constexpr char kStartFailedText[] =
    "Failed to start Mongoose. Maybe some options are assigned bad values?\n"
    "Try to run with '-e error_log.txt' and check error_log.txt for more information.";

struct ServedNode;

class HttpServer {
 public:
  HttpServer() = default;
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // False, with `failure_message` set to the user-facing text (at most 200
  // bytes), when the document root is not a directory ("Invalid root
  // directory: [%s]: %s"), the port cannot be bound, or this server already
  // runs.
  bool StartHttpServer(const HttpServerOptions& options, std::string* failure_message);
  // Ends transfers in progress (the connection closes without the rest of
  // the body) and blocks until the library's threads end. No-op when stopped.
  void StopHttpServer();
  bool Running() const;

  // Called by CivetWeb for every parsed request; writes the whole answer.
  // Returns the status it answered with.
  int HandleRequest(mg_connection* connection);
  // Called by CivetWeb as a worker takes up a new connection and after it
  // closed one.
  void ConnectionOpened();
  void ConnectionClosed();

 private:
  struct Request;
  int Serve(Request& request);
  int RefuseUnlessAllowed(Request& request);
  int ServeFolder(Request& request, ServedNode& node);
  int ServeFile(Request& request, ServedNode& node, const std::string& mime_path, bool gzip);
  int ServePropfind(Request& request, ServedNode& node);
  bool SendAll(mg_connection* connection, const char* data, std::size_t size);
  bool SendFileRange(mg_connection* connection, int fd, std::uint64_t offset, std::uint64_t length,
                     std::string prefix = {});

  mutable std::mutex mutex_;  // start and stop
  mg_context* context_ = nullptr;
  HttpServerOptions options_;
  NonceMint nonce_mint_;  // a new key each run: old nonces come back stale
  AccessProvider stored_access_ = StoredHttpAccess();
  int home_fd_ = -1;
  // Checked by transfers between chunks: a stop ends them at once.
  std::atomic<bool> stopping_{false};
  // Connections the workers hold; past one address's share they are looked
  // at by address (a look at every descriptor, so not below it).
  std::atomic<int> open_connections_{0};
  std::mutex sweep_mutex_;
};

}  // namespace quarno::httpd
