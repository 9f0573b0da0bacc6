#pragma once
// The server side of the admin connection, driven step by step by a test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace quarno::test {

class AdminPeer {
 public:
  AdminPeer() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listen_fd_, 4) != 0) {
      throw std::runtime_error("AdminPeer: cannot listen");
    }
    socklen_t len = sizeof a;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~AdminPeer() {
    Close();
    close(listen_fd_);
  }
  uint16_t port() const { return port_; }

  bool Accept(int ms = 2000) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return false;
    fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return fd_ >= 0;
  }
  bool Send(const std::string& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  // Up to `n` bytes; fewer when `ms` passes or the client closes.
  std::string Read(std::size_t n, int ms = 2000) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < n) {
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                         deadline - std::chrono::steady_clock::now())
                         .count());
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) != 1) break;
      char buf[65536];
      ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) break;
      out.append(buf, std::size_t(got));
    }
    return out;
  }
  // True when the client closed its side within `ms`.
  bool ClientClosed(int ms = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return false;
    char c;
    return recv(fd_, &c, 1, MSG_PEEK) == 0;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int listen_fd_ = -1;
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace quarno::test
