#include "platform/daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quarno::platform::daemon {

namespace {
sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}
}  // namespace

void BlockStopSignals() {
  sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopRequest() {
  sigset_t set = StopSet();
  for (;;) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) == 0) return signal_number;
  }
}

bool NotifySupervisor(const std::string& state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr || path[0] == '\0') return false;
  const std::size_t length = std::strlen(path);
  sockaddr_un address{};
  if (length >= sizeof address.sun_path || (path[0] != '/' && path[0] != '@')) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path, length);
  if (path[0] == '@') address.sun_path[0] = '\0';
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  const ssize_t sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&address), size);
  close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

bool HasControllingTerminal() {
  const int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

void ExitNow(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

}  // namespace quarno::platform::daemon
