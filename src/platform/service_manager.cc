#include "platform/service_manager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <thread>

#include "platform/boot_entry.h"
#include "platform/paths.h"

extern char** environ;

namespace quarno::platform {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? int(left.count()) : 0;
}

}  // namespace

bool IsValidServiceName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string ControlSocketPath(const std::string& service_name) {
  return RuntimeFolder() + "/" + service_name + ".ctl";
}

bool WaitForServiceState(ServiceManager& manager, const std::string& name, ServiceState state,
                         std::chrono::milliseconds limit, std::chrono::milliseconds poll) {
  // A zero wait hint must not turn the wait into a busy loop.
  const auto floor = std::chrono::milliseconds(10);
  if (poll < floor) poll = floor;
  auto deadline = Clock::now() + limit;
  for (;;) {
    if (manager.Query(name) == state) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
        poll, std::chrono::milliseconds(RemainingMs(deadline) + 1)));
  }
}

bool StopAndWait(ServiceManager& manager, const std::string& name,
                 std::chrono::milliseconds limit) {
  if (manager.Query(name) == ServiceState::kStopped) return true;
  manager.Stop(name);
  return WaitForServiceState(manager, name, ServiceState::kStopped, limit);
}

bool SendControlCode(const std::string& socket_path, int code, std::chrono::milliseconds timeout,
                     std::string* reason) {
  auto fail = [&](const char* why) {
    if (reason) *reason = why;
    return false;
  };
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof addr.sun_path) return fail("socket path too long");
  std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);

  auto deadline = Clock::now() + timeout;
  int fd = -1;
  // A program that has just started may not listen yet: retry until the
  // time-out while the socket is missing or refuses.
  for (;;) {
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail("no socket");
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
    int err = errno;
    ::close(fd);
    if ((err != ENOENT && err != ECONNREFUSED && err != EAGAIN) || Clock::now() >= deadline) {
      return fail("control channel not reachable");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(20, RemainingMs(deadline) + 1)));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  std::string request = std::to_string(code) + "\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
    return fail("send failed");
  }
  std::string answer;
  while (answer.find('\n') == std::string::npos && answer.size() < 512) {
    pollfd pfd{fd, POLLIN, 0};
    int rc = ::poll(&pfd, 1, RemainingMs(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return fail("no answer");
    char buf[256];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("channel closed without answer");
    answer.append(buf, std::size_t(n));
  }
  auto eol = answer.find('\n');
  if (eol == std::string::npos) return fail("answer too long");
  answer.resize(eol);
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  if (answer == "OK") return true;
  if (reason) *reason = answer.rfind("ERR ", 0) == 0 ? answer.substr(4) : answer;
  return false;
}

int RunCommand(const std::vector<std::string>& argv, std::string& out) {
  out.clear();
  if (argv.empty()) return -1;
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipefd[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The desktop program blocks its stop signals for a watcher thread; the
  // tools it runs must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipefd[1]);
  if (rc != 0) {
    ::close(pipefd[0]);
    return -1;
  }
  auto deadline = Clock::now() + std::chrono::seconds(30);
  bool timed_out = false;
  for (;;) {
    pollfd pfd{pipefd[0], POLLIN, 0};
    int prc = ::poll(&pfd, 1, RemainingMs(deadline));
    if (prc < 0 && errno == EINTR) continue;
    if (prc <= 0) {
      timed_out = true;
      break;
    }
    char buf[4096];
    ssize_t n = ::read(pipefd[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (out.size() < (1u << 20)) out.append(buf, std::size_t(n));
  }
  ::close(pipefd[0]);
  if (timed_out) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool SystemdUserManagerRuns() {
  const char* choice = std::getenv("QUARNO_SUPERVISOR");
  if (choice && std::strcmp(choice, "builtin") == 0) return false;
  if (choice && std::strcmp(choice, "systemd") == 0) return true;
  if (::access("/run/systemd/system", F_OK) != 0) return false;
  std::string out;
  RunCommand({"systemctl", "--user", "is-system-running"}, out);
  return out.rfind("running", 0) == 0 || out.rfind("degraded", 0) == 0 ||
         out.rfind("starting", 0) == 0;
}

std::unique_ptr<ServiceManager> MakeServiceManager() {
  return SystemdUserManagerRuns() ? MakeSystemdServiceManager() : MakeBuiltinServiceManager();
}

}  // namespace quarno::platform
