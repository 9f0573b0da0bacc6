#pragma once
// Runs quarno-bootup-service in a lab namespace the way a supervisor does:
// a session of its own, NOTIFY_SOCKET for readiness and the result notice,
// SIGTERM to stop it.
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

namespace quarno::test {

class BootServiceRun {
 public:
  ~BootServiceRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }

  // Starts `program` in namespace `ns` with the launcher's timings; true at READY=1.
  bool Start(const std::string& ns, const std::string& program, const std::string& timings,
             const std::string& notify_path) {
    if (fd_ >= 0) close(fd_);  // a boot before this one
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    notify_path.copy(address.sun_path, sizeof address.sun_path - 1);
    unlink(notify_path.c_str());
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    started_ = std::chrono::steady_clock::now();
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      setenv("NOTIFY_SOCKET", notify_path.c_str(), 1);
      setenv("QUARNO_BOOT_TIMINGS", timings.c_str(), 1);
      execlp("ip", "ip", "netns", "exec", ns.c_str(), program.c_str(), nullptr);
      _exit(127);
    }
    return Notice("READY=1", std::chrono::seconds(10)) == "READY=1";
  }

  // The next notification that starts with `prefix`, or empty after `limit`.
  std::string Notice(const std::string& prefix, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return {};
      timeval tv{static_cast<time_t>(left.count() / 1000),
                 static_cast<suseconds_t>(left.count() % 1000 * 1000)};
      setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      char buffer[256];
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return {};
      std::string notice(buffer, static_cast<std::size_t>(n));
      if (notice.rfind(prefix, 0) == 0) return notice;
    }
  }

  // The boot work's result code once it ended (-2 when no end was seen).
  int Result(std::chrono::milliseconds limit) {
    const std::string status = Notice("STATUS=boot work ended", limit);
    ended_ = std::chrono::steady_clock::now();
    std::smatch m;
    if (!std::regex_search(status, m, std::regex("result (-?\\d+)"))) return -2;
    return std::stoi(m[1]);
  }
  // From the start to the end of the boot work.
  std::chrono::milliseconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(ended_ - started_);
  }

  // SIGKILL, as a power cut ends it; reaped at once.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // SIGTERM; true when the process ended with status 0 within `limit`.
  bool Stop(std::chrono::milliseconds limit) {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  int fd_ = -1;
  pid_t pid_ = -1;
  std::chrono::steady_clock::time_point started_, ended_;
};

}  // namespace quarno::test
