#pragma once
// A running server on 127.0.0.1 over a temporary home folder that holds the
// share link DISK_E, and curl to talk to it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "httpd/http_server.h"
#include "support/files.h"
#include "support/temp_xdg.h"

struct CurlResult {
  int exit_code = -1;
  std::string output;  // head and body when run with -i
};

// Runs curl with `arguments` (already shell-quoted as needed).
CurlResult RunCurl(const std::string& arguments);
// A raw connection from a chosen loopback address, for exchanges curl would
// tidy up (pipelined requests, connections that say nothing).
class Client {
 public:
  Client(int port, const char* from = "127.0.0.1") {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~Client() { close(fd_); }
  bool connected() const { return connected_; }
  void Send(const std::string& text) { (void)!send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
  // Reads one answer framed by its Content-Length (heads without a body too).
  std::string ReadAnswer() {
    std::string answer = rest_;
    rest_.clear();
    char buffer[65536];
    while (true) {
      const std::size_t head_end = answer.find("\r\n\r\n");
      if (head_end != std::string::npos) {
        std::size_t length = 0;
        const std::size_t at = answer.find("Content-Length: ");
        if (at != std::string::npos && at < head_end) length = std::stoul(answer.substr(at + 16));
        if (answer.size() >= head_end + 4 + length) {
          rest_ = answer.substr(head_end + 4 + length);
          return answer.substr(0, head_end + 4 + length);
        }
      }
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return answer;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  std::string ReadUntilClosed() {
    std::string answer = rest_;
    rest_.clear();
    char buffer[65536];
    ssize_t n;
    while ((n = recv(fd_, buffer, sizeof buffer, 0)) > 0)
      answer.append(buffer, static_cast<std::size_t>(n));
    return answer;
  }
  // True when the server has already ended the connection (no waiting).
  bool ClosedNow() {
    if (closed_) return true;
    char byte;
    const ssize_t n = recv(fd_, &byte, 1, MSG_DONTWAIT);
    closed_ = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    return closed_;
  }
  // True when the server closed the connection (no more bytes, orderly end).
  bool ClosedByServer() {
    char byte;
    return rest_.empty() && recv(fd_, &byte, 1, 0) == 0;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string rest_;
};

using quarno::test::FreeLoopbackPort;
using quarno::test::ReadFile;
using quarno::test::WriteFile;

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Url(const std::string& path) const;
  CurlResult Get(const std::string& path, const std::string& extra = "");

  // What the owner would read from its settings, per request.
  void SetMac(const std::array<std::uint8_t, 6>& mac);
  void SetCharsetSetting(std::optional<std::string> value);
  void SetAccess(quarno::httpd::AccessRules rules);

  quarno::httpd::HttpServer server_;
  std::mutex values_mutex_;
  std::array<std::uint8_t, 6> mac_{};
  std::optional<std::string> charset_;
  // Open unless a test says otherwise: most tests are about serving.
  quarno::httpd::AccessRules access_{.open = true, .account = std::nullopt, .link_token = {}};
  std::shared_ptr<quarno::httpd::LoginGuard> login_guard_;  // set before SetUp
  std::unique_ptr<quarno::test::TempXdg> xdg_;
  std::string temp_;     // everything lives below
  std::string home_;     // document root
  std::string share_;    // what DISK_E points at
  std::string outside_;  // must never be served
  int port_ = 0;
  // The server's workers and its connections per client address; a fixture
  // may make them small before SetUp.
  int num_threads_ = 256;
  int connections_per_address_ = 128;
  // The engine's admission and time limits; defaults are the product's.
  quarno::httpd::HttpServerOptions limits_;
};
