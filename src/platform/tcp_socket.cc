#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace quarno::platform {
namespace {

bool ToSockaddr(const std::string& ipv4, uint16_t port, sockaddr_in& out) {
  out = {};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  return inet_pton(AF_INET, ipv4.c_str(), &out.sin_addr) == 1;
}

// Waits for `events` on `fd` for at most `timeout`; true when ready.
bool WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) left = std::chrono::milliseconds(0);
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

long ReceiveWithTimeout(int fd, std::string& out, std::size_t max,
                        std::chrono::milliseconds timeout, int flags) {
  if (fd < 0) return -1;
  if (!WaitFor(fd, POLLIN, timeout)) return -1;
  std::string buffer(max, '\0');
  ssize_t n;
  do {
    n = recv(fd, buffer.data(), max, flags | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  buffer.resize(static_cast<size_t>(n));
  out = std::move(buffer);
  return n;
}

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool TcpSocket::Connect(const std::string& ipv4, uint16_t port, std::chrono::milliseconds timeout) {
  Close();
  sockaddr_in peer;
  if (!ToSockaddr(ipv4, port, peer)) return false;
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return false;
  int r = connect(fd_, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  if (r != 0 && errno != EINPROGRESS) {
    Close();
    return false;
  }
  if (r != 0) {
    int error = 0;
    socklen_t len = sizeof error;
    if (!WaitFor(fd_, POLLOUT, timeout) ||
        getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
      Close();
      return false;
    }
  }
  int flags = fcntl(fd_, F_GETFL);
  fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  return true;
}

bool TcpSocket::Send(std::string_view data) {
  if (fd_ < 0) return false;
  while (!data.empty()) {
    ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

long TcpSocket::Recv(std::string& out, std::size_t max, std::chrono::milliseconds timeout) {
  return ReceiveWithTimeout(fd_, out, max, timeout, 0);
}

long TcpSocket::Peek(std::string& out, std::size_t max, std::chrono::milliseconds timeout) {
  return ReceiveWithTimeout(fd_, out, max, timeout, MSG_PEEK);
}

void TcpSocket::SetLingerZero() {
  if (fd_ < 0) return;
  linger l{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void TcpSocket::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

long UdpRequest(const std::string& ipv4, uint16_t port, std::string_view datagram,
                std::string& answer, std::size_t max, std::chrono::milliseconds timeout) {
  sockaddr_in peer;
  if (!ToSockaddr(ipv4, port, peer)) return -1;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  long result = -1;
  if (sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&peer),
             sizeof peer) == static_cast<ssize_t>(datagram.size())) {
    result = ReceiveWithTimeout(fd, answer, max, timeout, 0);
  }
  close(fd);
  return result;
}

std::string ResolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return {};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(list);
  return text;
}

}  // namespace quarno::platform
