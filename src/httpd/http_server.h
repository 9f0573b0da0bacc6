#pragma once
// The read-only HTTP/WebDAV file server: an Asio event loop accepts, admits
// and parses (Beast); every request goes through `HandleRequest`, which
// answers the status requests and serves the home folder itself. Plain HTTP
// and HTTPS share the port: a connection whose first byte opens a TLS
// handshake is served over TLS.
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
  // Threads of the server's event loop (1 or 2 are used: every connection
  // is an event, not a thread).
  int num_threads = 2;
  // Admission at accept, before a byte is read: connections one address
  // (IPv6: one /64), one network (/24, /48) and everyone may hold. A full
  // scope takes the place of its biggest holder's idlest connection.
  int connections_per_address = 128;
  int connections_per_network = 512;
  int max_connections = 4096;
  // The whole request head must arrive within this time (slow heads hold a
  // place for nothing), counted from the connection's start or the end of
  // the previous answer.
  int head_time_limit_ms = 10000;
  // A body (either way) that moves slower than `min_bytes_per_second` over
  // a whole window of `slow_window_ms` ends its connection.
  int slow_window_ms = 30000;
  int min_bytes_per_second = 1024;
  // HTTPS on the same port with the install's one TLS identity (made in this
  // folder at first use; empty: platform::TlsIdentityFolder()). Without a
  // usable identity the server runs plain HTTP only and says so in the trace.
  bool serve_tls = true;
  std::string tls_folder;
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
class Exchange;
class UniqueFd;

class HttpServer {
 public:
  HttpServer();
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

  // Answers one parsed request: queues the whole answer on `exchange`.
  // Returns the status it answered with (0: asked to come back later).
  int HandleRequest(Exchange& exchange);

  struct Engine;

 private:
  struct Request;
  struct ListingSlot;
  int Serve(Request& request);
  int RefuseUnlessAllowed(Request& request);
  int ServeFolder(Request& request, ServedNode& node);
  int ServeFile(Request& request, ServedNode& node, const std::string& mime_path, bool gzip);
  int ServePropfind(Request& request, ServedNode& node);
  void SendFileRange(Exchange& exchange, const std::shared_ptr<UniqueFd>& file,
                     std::uint64_t offset, std::uint64_t length, std::string prefix = {});
  std::shared_ptr<ListingSlot> TakeListingSlot();

  mutable std::mutex mutex_;  // start and stop
  std::unique_ptr<Engine> engine_;
  HttpServerOptions options_;
  NonceMint nonce_mint_;  // a new key each run: old nonces come back stale
  AccessProvider stored_access_ = StoredHttpAccess();
  int home_fd_ = -1;
  std::atomic<int> listings_{0};
};

}  // namespace quarno::httpd
