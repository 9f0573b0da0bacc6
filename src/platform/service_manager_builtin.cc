// The built-in supervisor: for machines without a systemd user manager, and
// for tests. A service is a record file; a running service is a pid file
// whose process still exists with the start time recorded at spawn, so a
// reused pid is never taken for the service.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/service_manager.h"

namespace quarno::platform {
namespace {

const char* StartTypeText(StartType type) {
  switch (type) {
    case StartType::kAutomatic:
      return "automatic";
    case StartType::kDisabled:
      return "disabled";
    default:
      return "demand";
  }
}

bool ParseStartType(const std::string& text, StartType& type) {
  if (text == "automatic") type = StartType::kAutomatic;
  else if (text == "demand") type = StartType::kOnDemand;
  else if (text == "disabled") type = StartType::kDisabled;
  else return false;
  return true;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Field 22 of /proc/<pid>/stat: start time in clock ticks since boot.
unsigned long long ProcessStartTime(int pid) {
  std::string stat;
  if (!ReadFile("/proc/" + std::to_string(pid) + "/stat", stat)) return 0;
  auto close_paren = stat.rfind(')');
  if (close_paren == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close_paren + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return 0;
}

class BuiltinServiceManager final : public ServiceManager {
 public:
  bool Exists(const std::string& name) override {
    ServiceConfig config;
    return QueryConfig(name, config);
  }

  bool Create(const ServiceConfig& config) override {
    if (!Valid(config) || Exists(config.name)) return false;
    return Write(config);
  }

  bool QueryConfig(const std::string& name, ServiceConfig& config) override {
    if (!IsValidServiceName(name)) return false;
    std::string text;
    if (!ReadFile(RecordPath(name), text)) return false;
    ServiceConfig parsed;
    parsed.name = name;
    bool have_exe = false, have_type = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      auto eq = line.find('=');
      if (eq == std::string::npos) continue;
      std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "display_name") {
        parsed.display_name = value;
      } else if (key == "executable") {
        parsed.executable = value;
        have_exe = true;
      } else if (key == "start_type") {
        have_type = ParseStartType(value, parsed.start_type);
      }
    }
    if (!have_exe || !have_type) return false;
    config = parsed;
    return true;
  }

  bool ChangeConfig(const ServiceConfig& config) override {
    if (!Valid(config) || !Exists(config.name)) return false;
    return Write(config);
  }

  bool Remove(const std::string& name) override {
    if (!Exists(name)) return false;
    return std::remove(RecordPath(name).c_str()) == 0;
  }

  ServiceState Query(const std::string& name) override {
    if (!IsValidServiceName(name)) return ServiceState::kUnknown;
    return RunningPid(name) > 0 ? ServiceState::kRunning : ServiceState::kStopped;
  }

  bool Start(const std::string& name, bool* already_running) override {
    if (already_running) *already_running = false;
    ServiceConfig config;
    if (!QueryConfig(name, config) || config.start_type == StartType::kDisabled) return false;
    if (RunningPid(name) > 0) {
      if (already_running) *already_running = true;
      return false;
    }
    if (::access(config.executable.c_str(), X_OK) != 0) return false;
    if (!MakeDirs(RuntimeFolder())) return false;
    int pid = SpawnDetached(config.executable, {});
    if (pid <= 0) return false;
    unsigned long long started = ProcessStartTime(pid);
    return ReplaceFile(PidPath(name),
                               std::to_string(pid) + " " + std::to_string(started) + "\n");
  }

  bool Stop(const std::string& name) override {
    int pid = RunningPid(name);
    if (pid <= 0) return false;
    return ::kill(pid, SIGTERM) == 0;
  }

  bool Control(const std::string& name, int code, std::chrono::milliseconds timeout) override {
    if (code < 128 || code > 255 || !IsValidServiceName(name)) return false;
    if (RunningPid(name) <= 0) return false;
    return SendControlCode(ControlSocketPath(name), code, timeout);
  }

 private:
  static std::string RecordFolder() { return DataFolder() + "/services"; }
  static std::string RecordPath(const std::string& name) {
    return RecordFolder() + "/" + name + ".service";
  }
  static std::string PidPath(const std::string& name) {
    return RuntimeFolder() + "/" + name + ".pid";
  }

  static bool Valid(const ServiceConfig& c) {
    return IsValidServiceName(c.name) && !c.executable.empty() && c.executable[0] == '/' &&
           !HasLineBreak(c.display_name) && !HasLineBreak(c.executable);
  }

  static bool Write(const ServiceConfig& c) {
    if (!MakeDirs(RecordFolder())) return false;
    std::string text = "display_name=" + c.display_name + "\nexecutable=" + c.executable +
                       "\nstart_type=" + StartTypeText(c.start_type) + "\n";
    return ReplaceFile(RecordPath(c.name), text);
  }

  // The pid of the running service, or 0 (a stale pid file is removed).
  static int RunningPid(const std::string& name) {
    std::string text;
    if (!ReadFile(PidPath(name), text)) return 0;
    std::istringstream in(text);
    long pid = 0;
    unsigned long long started = 0;
    if (in >> pid >> started && pid > 0 && ProcessAlive(int(pid)) &&
        ProcessStartTime(int(pid)) == started) {
      return int(pid);
    }
    std::remove(PidPath(name).c_str());
    return 0;
  }
};

}  // namespace

std::unique_ptr<ServiceManager> MakeBuiltinServiceManager() {
  return std::make_unique<BuiltinServiceManager>();
}

}  // namespace quarno::platform
