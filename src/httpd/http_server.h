#pragma once
// The read-only HTTP/WebDAV file server (CivetWeb) with the request preface in
// front of it. Self-contained: quarno-server and quarno-ftpd both link it.
//
// Use:
//   SetRouterMac(mac); SetFtpCharsetUtf8(utf8);   // any time, any thread
//   std::string failure;
//   if (!StartHttpServer({.port_text = "8080", .document_root = HomeFolder()}, &failure)) {
//     // show `failure` in a message box captioned kStartFailureCaption, exit(1)
//   }
//   ...
//   StopHttpServer();   // also ends downloads in progress
//
// The library never exits the process; ending the program on a start failure
// is the caller's duty (the message texts are the ones the user must see).
#include <array>
#include <cstdint>
#include <string>

struct mg_connection;

namespace quarno::httpd {

struct HttpServerOptions {
  // Decimal port, no address or suffix ("8080").
  std::string port_text;
  // The home folder; must be an existing directory.
  std::string document_root;
  // Empty: all local addresses (the product). Tests pass "127.0.0.1".
  std::string listen_address;
  // Worker threads; ten in the product.
  int num_threads = 10;
};

inline constexpr char kStartFailureCaption[] = "Error";
inline constexpr char kStartFailedText[] =
    "Failed to start Mongoose. Maybe some options are assigned bad values?\n"
    "Try to run with '-e error_log.txt' and check error_log.txt for more information.";

// Starts the one server of the process. False, with `failure_message` set to
// the user-facing text (at most 200 bytes), when the document root is not a
// directory ("Invalid root directory: [%s]: %s"), the port cannot be bound,
// or a server is already running. Runs mg_init_library itself.
bool StartHttpServer(const HttpServerOptions& options, std::string* failure_message);
bool StartHttpServer(const std::string& port_text, const std::string& document_root,
                     std::string* failure_message);

// Stops the server, ending transfers in progress (the connection closes
// without the rest of the body). Blocks until the library's threads end.
// No-op when nothing runs.
void StopHttpServer();
bool HttpServerRunning();

// Values the preface reads on every request. Atomic: the owner may change
// them while the server runs; a request sees the old or the new value whole.
void SetRouterMac(const std::array<std::uint8_t, 6>& mac);
std::array<std::uint8_t, 6> RouterMac();
void SetFtpCharsetUtf8(bool utf8);
bool FtpCharsetUtf8();

// The preface, installed as CivetWeb's begin_request callback: answers the
// status requests and the 404 of paths without "httpstream", serves PROPFIND
// itself (hrefs keep the client's prefix), rewrites the rest for the library.
// Returns the status it answered with, or 0 to let the library go on.
int HandleRequest(mg_connection* connection);

}  // namespace quarno::httpd
