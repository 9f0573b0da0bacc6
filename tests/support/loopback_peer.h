#pragma once
// A scripted TCP peer on a loopback address, for testing clients against
// exact bytes. Build the script, Start(), point the client at address():port().
//
//   quarno::test::LoopbackPeer peer("127.0.0.2");
//   peer.ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nhi").Close();
//   peer.Start();
//   ... client talks to peer.address(), peer.port() ...
//   EXPECT_EQ(peer.Received(), "GET / HTTP/1.0\r\n\r\n");
//
// The script runs once per accepted connection (Start(n) accepts n of them).
// Steps: Read (one recv), ReadUntil (until a terminator or EOF), ReadAll (until
// the client closes), Send, Sleep, Close (FIN), Reset (RST), Hold (keep open
// until the client closes or the peer is destroyed).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quarno::test {

class LoopbackPeer {
 public:
  // Port 0 takes an ephemeral port. Throws when the address cannot be bound.
  explicit LoopbackPeer(std::string address = "127.0.0.1", uint16_t port = 0)
      : address_(std::move(address)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address_.c_str(), &a.sin_addr) != 1 ||
        bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listen_fd_, 16) != 0) {
      close(listen_fd_);
      throw std::runtime_error("LoopbackPeer: cannot listen on " + address_);
    }
    socklen_t len = sizeof a;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~LoopbackPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(listen_fd_);
  }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  LoopbackPeer& Read() { return Add({Kind::kRead, {}, 0}); }
  LoopbackPeer& ReadUntil(std::string terminator) {
    return Add({Kind::kReadUntil, std::move(terminator), 0});
  }
  LoopbackPeer& ReadAll() { return Add({Kind::kReadAll, {}, 0}); }
  LoopbackPeer& Send(std::string bytes) { return Add({Kind::kSend, std::move(bytes), 0}); }
  LoopbackPeer& Sleep(int ms) { return Add({Kind::kSleep, {}, ms}); }
  LoopbackPeer& Close() { return Add({Kind::kClose, {}, 0}); }
  LoopbackPeer& Reset() { return Add({Kind::kReset, {}, 0}); }
  LoopbackPeer& Hold() { return Add({Kind::kHold, {}, 0}); }

  void Start(int connections = 1) {
    thread_ = std::thread([this, connections] {
      for (int i = 0; i < connections && !stop_; ++i) {
        if (!WaitReadable(listen_fd_)) return;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++accepted_;
        RunScript(fd);
      }
    });
  }

  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }
  int accepted() const { return accepted_; }
  // Everything received so far, over all connections.
  std::string Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  // Waits (bounded) until the script of `connections` connections has ended.
  bool WaitDone(int connections = 1, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (finished_ < connections) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  enum class Kind { kRead, kReadUntil, kReadAll, kSend, kSleep, kClose, kReset, kHold };
  struct Step {
    Kind kind;
    std::string data;
    int ms;
  };

  LoopbackPeer& Add(Step step) {
    script_.push_back(std::move(step));
    return *this;
  }

  // Polls in short slices so destruction never waits long.
  bool WaitReadable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      int r = poll(&p, 1, 20);
      if (r > 0) return true;
      if (r < 0 && errno != EINTR) return false;
    }
    return false;
  }

  // One recv; false on EOF/error.
  bool ReadOnce(int fd, std::string& connection) {
    if (!WaitReadable(fd)) return false;
    char buffer[65536];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    connection.append(buffer, static_cast<size_t>(n));
    std::lock_guard lock(mutex_);
    received_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  void RunScript(int fd) {
    std::string connection;
    bool open = true;
    for (const auto& step : script_) {
      if (!open || stop_) break;
      switch (step.kind) {
        case Kind::kRead:
          ReadOnce(fd, connection);
          break;
        case Kind::kReadUntil: {
          size_t from = connection.size();
          while (connection.find(step.data, from > step.data.size() ? from - step.data.size()
                                                                    : 0) == std::string::npos &&
                 ReadOnce(fd, connection)) {
          }
          break;
        }
        case Kind::kReadAll:
          while (ReadOnce(fd, connection)) {
          }
          break;
        case Kind::kSend: {
          std::string_view rest = step.data;
          // A client that stops reading must not hang the peer's destructor.
          while (!rest.empty() && !stop_) {
            ssize_t n = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
              pollfd p{fd, POLLOUT, 0};
              poll(&p, 1, 20);
              continue;
            }
            if (n <= 0) break;
            rest.remove_prefix(static_cast<size_t>(n));
          }
          break;
        }
        case Kind::kSleep:
          for (int waited = 0; waited < step.ms && !stop_; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          break;
        case Kind::kClose:
          open = false;
          break;
        case Kind::kReset: {
          linger l{1, 0};
          setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
          open = false;
          break;
        }
        case Kind::kHold:
          while (ReadOnce(fd, connection)) {
          }
          open = false;
          break;
      }
    }
    close(fd);
    ++finished_;
  }

  std::string address_;
  uint16_t port_ = 0;
  int listen_fd_ = -1;
  std::vector<Step> script_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> finished_{0};
  std::mutex mutex_;
  std::string received_;
};

}  // namespace quarno::test
