#pragma once
// One home-network lab (lab/netns-lab.sh) for one test: up on construction,
// down on destruction, and torn down by the script's watcher should the test
// process die first.
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/files.h"

namespace quarno::test {

inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

class NetnsLab {
 public:
  // Why no lab can be built here, or empty.
  static std::string WhyUnavailable() {
    if (geteuid() != 0) return "the namespace lab needs root";
    for (const char* tool : {"ip", "nft", "miniupnpd", "upnpc", "python3", "curl"}) {
      int status = 0;
      Shell(std::string("command -v ") + tool, &status);
      if (status != 0) return std::string(tool) + " is not installed";
    }
    return {};
  }

  NetnsLab() : id_("s" + std::to_string(getpid()) + "x" + std::to_string(++count_)) {
    int status = 0;
    const std::string out =
        Shell(Script() + " up --watch " + std::to_string(getpid()), &status);
    if (status != 0) {
      error_ = out;
      return;
    }
    std::istringstream env(ReadFile("/tmp/quarno-lab-" + id_ + "/env"));
    for (std::string line; std::getline(env, line);) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) vars_[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (vars_.count("NS_PC") == 0) error_ = "no lab environment in: " + out;
  }
  ~NetnsLab() { Shell(Script() + " down"); }
  NetnsLab(const NetnsLab&) = delete;
  NetnsLab& operator=(const NetnsLab&) = delete;

  const std::string& error() const { return error_; }
  std::string operator[](const std::string& name) const {
    auto it = vars_.find(name);
    return it == vars_.end() ? std::string() : it->second;
  }
  // Runs `command` with sh inside router|pc|pc2|internet; its output.
  std::string Exec(const std::string& role, const std::string& command, int* status = nullptr) {
    return Shell(Script() + " exec " + role + " sh -c '" + command + "'", status);
  }
  // Restarts a simulator (router|ddns) with extra arguments; its state is kept.
  bool Sim(const std::string& name, const std::string& args = "") {
    int status = 0;
    Shell(Script() + " sim " + name + " " + args, &status);
    return status == 0;
  }
  // The router reboots as far as UPnP goes: every mapping is gone.
  bool RestartIgd() {
    int status = 0;
    Shell(Script() + " igd restart", &status);
    return status == 0;
  }
  std::string Path(const std::string& file) const { return (*this)["LAB_DIR"] + "/" + file; }
  // The router's table as upnpc from the pc sees it: one line per mapping,
  // "2121->198.18.10.10:2121  'Quarno_Server_FTP'".
  std::string Mappings() {
    std::istringstream out(Exec("pc", "upnpc -u " + (*this)["IGD_URL"] + " -l"));
    std::string table;
    for (std::string line; std::getline(out, line);) {
      const auto arrow = line.find("->"), quote = line.rfind("' '");
      if (arrow == std::string::npos || quote == std::string::npos) continue;
      const auto start = line.rfind(' ', arrow) + 1;
      table += line.substr(start, quote + 1 - start) + "\n";
    }
    return table;
  }
  std::string Map(const std::string& role, const std::string& client, int port,
                  const std::string& description) {
    return Exec(role, "upnpc -u " + (*this)["IGD_URL"] + " -e " + description + " -a " + client +
                          " " + std::to_string(port) + " " + std::to_string(port) + " TCP");
  }

 private:
  std::string Script() const {
    return std::string("'") + QUARNO_SOURCE_DIR + "/lab/netns-lab.sh' -i " + id_;
  }

  static inline int count_ = 0;
  std::string id_;
  std::string error_;
  std::map<std::string, std::string> vars_;
};

}  // namespace quarno::test
