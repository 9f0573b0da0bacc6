#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace quarno::platform {
namespace {

bool ReadFull(int fd, void* data, size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

// Double fork: the intermediate child exits at once, so the program is
// re-parented to init (or the subreaper) and never left as our zombie.
// Between fork and exec only async-signal-safe calls are made.
int SpawnDetached(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  bool search = path.find('/') == std::string::npos;

  int pid_pipe[2];
  int err_pipe[2];
  if (pipe2(pid_pipe, O_CLOEXEC) != 0) return -1;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(pid_pipe[0]);
    close(pid_pipe[1]);
    return -1;
  }
  pid_t middle = fork();
  if (middle < 0) {
    for (int fd : {pid_pipe[0], pid_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    return -1;
  }
  if (middle == 0) {
    pid_t child = fork();
    if (child == 0) {
      setsid();
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(sig, &dfl, nullptr);
      int null_fd = open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        if (null_fd > 2) close(null_fd);
      }
      if (search) {
        execvp(argv[0], argv.data());
      } else {
        execv(argv[0], argv.data());
      }
      int e = errno;
      ssize_t ignored = write(err_pipe[1], &e, sizeof e);
      (void)ignored;
      _exit(127);
    }
    ssize_t ignored = write(pid_pipe[1], &child, sizeof child);
    (void)ignored;
    _exit(child < 0 ? 1 : 0);
  }
  close(pid_pipe[1]);
  close(err_pipe[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  pid_t child = -1;
  bool have_pid = ReadFull(pid_pipe[0], &child, sizeof child);
  close(pid_pipe[0]);
  int exec_errno = 0;
  bool exec_failed = ReadFull(err_pipe[0], &exec_errno, sizeof exec_errno);  // EOF on exec
  close(err_pipe[0]);
  if (!have_pid || child <= 0 || exec_failed) return -1;
  return child;
}

int RunForOutput(const std::string& path, const std::vector<std::string>& args, std::string& output,
                 std::chrono::milliseconds timeout, std::size_t limit) {
  output.clear();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const bool search = path.find('/') == std::string::npos;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  const pid_t child = fork();
  if (child < 0) {
    close(out[0]);
    close(out[1]);
    return -1;
  }
  if (child == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 2);
    }
    dup2(out[1], 1);
    if (search) {
      execvp(argv[0], argv.data());
    } else {
      execv(argv[0], argv.data());
    }
    _exit(127);
  }
  close(out[1]);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool timed_out = false;
  char buffer[4096];
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      timed_out = ready == 0;
      break;
    }
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (output.size() < limit)
      output.append(buffer, std::min(static_cast<std::size_t>(n), limit - output.size()));
  }
  close(out[0]);
  if (timed_out) kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool ProcessAlive(int pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  auto paren = line.rfind(')');
  if (paren == std::string::npos || paren + 2 >= line.size()) return false;
  char state = line[paren + 2];
  return state != 'Z' && state != 'X';
}

uint32_t EffectiveUserId() { return static_cast<uint32_t>(geteuid()); }

}  // namespace quarno::platform
