#include "platform/event_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quarno::platform {

EventSocket::EventSocket() { wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

EventSocket::~EventSocket() {
  Close();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool EventSocket::Connect(const std::string& ipv4, uint16_t port,
                          std::chrono::milliseconds timeout) {
  Close();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, ipv4.c_str(), &addr.sin_addr) != 1) return false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd pfd{fd, POLLOUT, 0};
    int ms = timeout.count() < 0 ? -1 : int(timeout.count());
    do {
      rc = ::poll(&pfd, 1, ms);
    } while (rc < 0 && errno == EINTR);
    int err = 0;
    socklen_t len = sizeof err;
    if (rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
      rc = 0;
    } else {
      rc = -1;
    }
  }
  if (rc != 0) {
    ::close(fd);
    return false;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fd_ = fd;
  return true;
}

EventSocket::Io EventSocket::Send(const void* data, std::size_t length, std::size_t& sent) {
  sent = 0;
  if (fd_ < 0) return Io::kError;
  ssize_t n;
  do {
    n = ::send(fd_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    sent = std::size_t(n);
    return Io::kOk;
  }
  if (n == 0) return length == 0 ? Io::kOk : Io::kClosed;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::kWouldBlock;
  return errno == EPIPE || errno == ECONNRESET ? Io::kClosed : Io::kError;
}

EventSocket::Io EventSocket::Recv(void* buffer, std::size_t length, std::size_t& received) {
  received = 0;
  if (fd_ < 0) return Io::kError;
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, length, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    received = std::size_t(n);
    return Io::kOk;
  }
  if (n == 0) return length == 0 ? Io::kOk : Io::kClosed;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::kWouldBlock;
  return errno == ECONNRESET ? Io::kClosed : Io::kError;
}

EventSocket::Wait EventSocket::WaitReadable(std::chrono::milliseconds timeout) {
  pollfd pfds[2] = {{wake_fd_, POLLIN, 0}, {fd_, POLLIN, 0}};
  nfds_t count = fd_ >= 0 ? 2 : 1;
  int ms = timeout.count() < 0 ? -1 : int(timeout.count());
  int rc;
  do {
    rc = ::poll(pfds, count, ms);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return Wait::kError;
  if (rc == 0) return Wait::kTimeout;
  if (pfds[0].revents & POLLIN) {
    uint64_t value;
    while (::read(wake_fd_, &value, sizeof value) > 0) {
    }
    return Wait::kWoken;
  }
  // Hang-up and errors show as readable: the next Recv tells which.
  return Wait::kReadable;
}

void EventSocket::Wake() {
  uint64_t one = 1;
  if (wake_fd_ >= 0) {
    ssize_t n = ::write(wake_fd_, &one, sizeof one);
    (void)n;
  }
}

uint16_t EventSocket::LocalPort() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

void EventSocket::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool CanListenTcp(const std::string& ipv4, uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, ipv4.c_str(), &addr.sin_addr) != 1) return false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 1) == 0;
  ::close(fd);
  return ok;
}

}  // namespace quarno::platform
