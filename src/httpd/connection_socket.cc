#include "httpd/connection_socket.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace quarno::httpd {
namespace {

bool SameEndpoint(const sockaddr_storage& address, const sockaddr_storage& wanted) {
  if (address.ss_family != wanted.ss_family) return false;
  if (address.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(address);
    const auto& b = reinterpret_cast<const sockaddr_in&>(wanted);
    return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
  }
  if (address.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(wanted);
    return a.sin6_port == b.sin6_port &&
           std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
  }
  return false;
}

int LocalPort(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  }
  return -1;
}

}  // namespace

namespace {

// Calls `visit(fd, peer, local)` for each connected socket of this process
// until it returns true.
template <typename Visit>
void ForEachConnectedSocket(Visit visit) {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return;
  const int dir_fd = ::dirfd(dir);
  while (const dirent* item = ::readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(item->d_name, &end, 10);
    if (end == item->d_name || *end != '\0' || fd == dir_fd) continue;
    struct stat status {};
    if (::fstat(static_cast<int>(fd), &status) != 0 || !S_ISSOCK(status.st_mode)) continue;
    sockaddr_storage peer{}, local{};
    socklen_t length = sizeof peer;
    if (::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
      continue;
    length = sizeof local;
    if (::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &length) != 0)
      continue;
    if (visit(static_cast<int>(fd), peer, local)) break;
  }
  ::closedir(dir);
}

// The peer's address without its port, as a map key.
std::string PeerKey(const sockaddr_storage& peer) {
  if (peer.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(peer);
    return std::string(reinterpret_cast<const char*>(&a.sin_addr), sizeof a.sin_addr);
  }
  const auto& a = reinterpret_cast<const sockaddr_in6&>(peer);
  return std::string(reinterpret_cast<const char*>(&a.sin6_addr), sizeof a.sin6_addr);
}

}  // namespace

int FindConnectionSocket(const std::string& peer_address, int peer_port, int local_port) {
  sockaddr_storage wanted{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&wanted);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&wanted);
  if (inet_pton(AF_INET, peer_address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(peer_port));
  } else if (inet_pton(AF_INET6, peer_address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(peer_port));
  } else {
    return -1;
  }
  int found = -1;
  ForEachConnectedSocket([&](int fd, const sockaddr_storage& peer, const sockaddr_storage& local) {
    if (!SameEndpoint(peer, wanted) || LocalPort(local) != local_port) return false;
    found = fd;
    return true;
  });
  return found;
}

std::vector<int> ConnectionsPastTheShare(int local_port, int per_address) {
  std::map<std::string, std::vector<int>> by_peer;
  ForEachConnectedSocket([&](int fd, const sockaddr_storage& peer, const sockaddr_storage& local) {
    if ((peer.ss_family != AF_INET && peer.ss_family != AF_INET6) || LocalPort(local) != local_port)
      return false;
    // One that reads as ended (by an earlier look, or by its client) is on
    // its way out and takes no room.
    char byte;
    if (::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return false;
    by_peer[PeerKey(peer)].push_back(fd);
    return false;
  });
  std::vector<int> past;
  for (auto& [peer, fds] : by_peer) {
    if (static_cast<int>(fds.size()) <= per_address) continue;
    // The highest descriptors: the most recently opened, as a rule.
    std::sort(fds.begin(), fds.end());
    past.insert(past.end(), fds.begin() + per_address, fds.end());
  }
  return past;
}

SendResult SendFileToSocket(int socket_fd, int file_fd, std::uint64_t offset, std::uint64_t length,
                            int idle_timeout_ms, const std::function<bool()>& stop) {
  // Pieces small enough that a stop is seen quickly on a fast link.
  constexpr std::uint64_t kPiece = 8u << 20;
  constexpr int kPollSliceMs = 200;
  int idle_ms = 0;
  auto position = static_cast<off_t>(offset);
  // On a blocking socket one sendfile call would wait for the whole piece
  // however slow the client; the library's own flags come back afterwards.
  const int flags = ::fcntl(socket_fd, F_GETFL);
  if (flags < 0) return SendResult::kFailed;
  if (!(flags & O_NONBLOCK)) ::fcntl(socket_fd, F_SETFL, flags | O_NONBLOCK);
  struct Restore {
    int fd, flags;
    ~Restore() { ::fcntl(fd, F_SETFL, flags); }
  } restore{socket_fd, flags};
  while (length > 0) {
    if (stop()) return SendResult::kStopped;
    const ssize_t sent = ::sendfile(socket_fd, file_fd, &position,
                                    static_cast<std::size_t>(std::min(length, kPiece)));
    if (sent > 0) {
      length -= static_cast<std::uint64_t>(sent);
      idle_ms = 0;
      continue;
    }
    if (sent == 0) return SendResult::kFailed;  // the file shrank
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SendResult::kFailed;
    pollfd wait{socket_fd, POLLOUT, 0};
    const int ready = ::poll(&wait, 1, kPollSliceMs);
    if (ready < 0 && errno != EINTR) return SendResult::kFailed;
    if (ready == 0 && (idle_ms += kPollSliceMs) >= idle_timeout_ms) return SendResult::kFailed;
    if (ready > 0 && (wait.revents & (POLLERR | POLLHUP | POLLNVAL))) return SendResult::kFailed;
  }
  return SendResult::kDone;
}

}  // namespace quarno::httpd
