#pragma once
// Runs one of the lab simulators (lab/<script>.py) for a test: listens on the
// given loopback address with a free port, killed by its pid on destruction.
//
//   quarno::test::LabSimulator router("router_sim.py", "127.0.0.2",
//                                     {"--model", " ZQ300 "}, dir + "/router.json");
//   client.Connect(router.address(), router.port());
//   std::string state = router.State();   // the simulator's JSON state file
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef QUARNO_SOURCE_DIR
#error "QUARNO_SOURCE_DIR must name the source tree"
#endif

namespace quarno::test {

class LabSimulator {
 public:
  LabSimulator(const std::string& script, std::string address, std::vector<std::string> args = {},
               std::string state_file = {})
      : address_(std::move(address)), state_file_(std::move(state_file)) {
    std::vector<std::string> argv = {"python3",   std::string(QUARNO_SOURCE_DIR) + "/lab/" + script,
                                     "--address", address_,
                                     "--port",    "0"};
    if (script == "igd_sim.py") {
      argv.push_back("--ssdp-port");
      argv.push_back("0");
    }
    if (!state_file_.empty()) {
      argv.push_back("--state-file");
      argv.push_back(state_file_);
    }
    argv.insert(argv.end(), args.begin(), args.end());

    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      std::vector<char*> cargv;
      for (auto& a : argv) cargv.push_back(a.data());
      cargv.push_back(nullptr);
      execvp("python3", cargv.data());
      _exit(127);
    }
    close(fds[1]);
    ReadAnnouncement(fds[0]);
    close(fds[0]);
  }
  ~LabSimulator() { Stop(); }
  LabSimulator(const LabSimulator&) = delete;
  LabSimulator& operator=(const LabSimulator&) = delete;

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }
  uint16_t ssdp_port() const { return ssdp_port_; }
  // The state file's text ("" without one).
  std::string State() const {
    std::ifstream in(state_file_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

 private:
  // Waits up to 30 s for "LISTENING <address> <port> [ssdp=<port>]" (a
  // loaded machine starts Python slowly).
  void ReadAnnouncement(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[256];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<std::size_t>(n));
    }
    std::istringstream in(line);
    std::string word, host;
    int port = 0;
    in >> word >> host >> port;
    std::string extra;
    in >> extra;
    if (extra.rfind("ssdp=", 0) == 0)
      ssdp_port_ = static_cast<uint16_t>(std::atoi(extra.c_str() + 5));
    if (word != "LISTENING" || port <= 0) {
      Stop();
      throw std::runtime_error("simulator did not start: " + line);
    }
    port_ = static_cast<uint16_t>(port);
  }

  std::string address_;
  std::string state_file_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  uint16_t ssdp_port_ = 0;
};

}  // namespace quarno::test
