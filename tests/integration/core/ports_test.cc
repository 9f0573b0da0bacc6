// IsPortFree and PickFreePort against sockets this test really holds.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/netprobe.h"

namespace quarno {
namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

uint16_t LocalPort(int fd) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
                                 : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

// A listener on 127.0.0.1 (or ::1), at `port` or an ephemeral one; -1 when it cannot be made.
Fd Listen(bool v6, uint16_t port = 0) {
  Fd fd(socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int one = 1;
  if (v6) {
    setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Fd();
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Fd();
  }
  if (listen(fd.get(), 8) != 0) return Fd();
  return fd;
}

Fd ConnectTo(uint16_t port) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Fd();
  return fd;
}

bool InTable(uint16_t port, platform::TcpState state) {
  auto table = platform::ReadTcpTable();
  return std::any_of(table.begin(), table.end(), [&](const platform::TcpEntry& e) {
    return e.local_port == port && e.state == state;
  });
}

TEST(Ports, Ipv4ListenerHoldsItsPortUntilClosed) {
  Fd listener = Listen(false);
  ASSERT_GE(listener.get(), 0);
  uint16_t port = LocalPort(listener.get());
  EXPECT_FALSE(IsPortFree(port));
  listener.reset();
  EXPECT_TRUE(IsPortFree(port));
}

TEST(Ports, Ipv6ListenerHoldsItsPortToo) {
  Fd listener = Listen(true);
  if (listener.get() < 0) GTEST_SKIP() << "no IPv6 on loopback here";
  uint16_t port = LocalPort(listener.get());
  EXPECT_TRUE(InTable(port, platform::TcpState::kListen));
  EXPECT_FALSE(IsPortFree(port));
}

TEST(Ports, EstablishedHeldTimeWaitFreeButNotPicked) {
  Fd listener = Listen(false);
  ASSERT_GE(listener.get(), 0);
  Fd client = ConnectTo(LocalPort(listener.get()));
  ASSERT_GE(client.get(), 0);
  Fd server(accept(listener.get(), nullptr, nullptr));
  uint16_t client_port = LocalPort(client.get());
  EXPECT_FALSE(IsPortFree(client_port));
  // The side that closes first keeps its port in time-wait.
  client.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  server.reset();
  bool time_wait = false;
  for (int i = 0; i < 100 && !time_wait; ++i) {
    time_wait = InTable(client_port, platform::TcpState::kTimeWait);
    if (!time_wait) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(time_wait) << "port " << client_port << " never showed time-wait";
  EXPECT_TRUE(IsPortFree(client_port));
  auto list = GetPortList();
  EXPECT_EQ(std::count(list.begin(), list.end(), client_port), 0);
  // Yet no server can listen there until the time-wait ends: a port picked
  // to be served walks past it (a range of 1001 starts at its low end).
  EXPECT_FALSE(platform::CanListenOn(client_port));
  if (client_port <= 64000) {
    EXPECT_NE(PickFreePort(client_port, client_port + 1001), client_port);
  }
}

TEST(Ports, PickFreePortWalksPastHeldPorts) {
  // Hold X (IPv4) and X+1 (IPv6, or IPv4 without IPv6): with a range of 1002
  // ports the start is X or X+1, so the answer must be X+2 (X+3 when X+2 is excluded).
  for (int attempt = 0; attempt < 20; ++attempt) {
    Fd first = Listen(false);
    ASSERT_GE(first.get(), 0);
    uint16_t x = LocalPort(first.get());
    if (x > 60000) continue;
    Fd second = Listen(true, x + 1);
    if (second.get() < 0) second = Listen(false, x + 1);
    if (second.get() < 0 || !IsPortFree(x + 2) || !IsPortFree(x + 3)) continue;
    for (int draw = 0; draw < 10; ++draw) {
      EXPECT_EQ(PickFreePort(x, x + 1002), x + 2);
      EXPECT_EQ(PickFreePort(x, x + 1002, x + 2), x + 3);
    }
    return;
  }
  GTEST_SKIP() << "no quiet pair of ports found";
}

}  // namespace
}  // namespace quarno
