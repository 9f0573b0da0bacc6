// systemd user units: "automatic" is an enabled unit (it starts with the
// user manager; boot-time start needs lingering), "on demand" a disabled one.
// "Disabled" has no systemd twin that keeps our unit file in place, so the
// unit carries it in a comment and Start refuses such a service.
//
// A unit the package installed (Quarno_Bootup_Service) is the service: when
// it starts the same executable, the program only enables or disables it and
// writes no unit of its own, which would shadow it. A unit of its own is
// written only for another executable (a build run from the tree).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/service_manager.h"

namespace quarno::platform {
namespace {

constexpr char kDisabledMarker[] = "# Quarno start type: disabled";

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// systemd expands % specifiers everywhere and $ in ExecStart.
std::string EscapeSpecifiers(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '%') out += "%%";
    else out += c;
  }
  return out;
}

std::string QuoteExec(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += '%';
    if (c == '$') out += '$';
    out += c;
  }
  return out + "\"";
}

std::string UnquoteExec(const std::string& text) {
  if (text.size() < 2 || text.front() != '"') return text;
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') break;
    if (c == '\\' && i + 1 < text.size()) c = text[++i];
    else if ((c == '%' || c == '$') && i + 1 < text.size() && text[i + 1] == c) ++i;
    out += c;
  }
  return out;
}

std::string UnescapeSpecifiers(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == '%') ++i;
  }
  return out;
}

std::string FirstLine(const std::string& s) {
  auto eol = s.find('\n');
  return eol == std::string::npos ? s : s.substr(0, eol);
}

class SystemdServiceManager final : public ServiceManager {
 public:
  SystemdServiceManager(CommandRunner runner, std::string folder,
                        std::vector<std::string> packaged_folders)
      : run_(std::move(runner)),
        folder_(std::move(folder)),
        packaged_folders_(std::move(packaged_folders)) {
    if (folder_.empty()) {
      const char* config = std::getenv("XDG_CONFIG_HOME");
      const char* home = std::getenv("HOME");
      std::string base = (config && config[0] == '/') ? config
                                                       : std::string(home ? home : "") + "/.config";
      folder_ = base + "/systemd/user";
    }
  }

  bool Exists(const std::string& name) override {
    return IsValidServiceName(name) &&
           (::access(UnitPath(name).c_str(), F_OK) == 0 || !PackagedUnitPath(name).empty());
  }

  bool Create(const ServiceConfig& config) override {
    if (!Valid(config) || Exists(config.name)) return false;
    return Install(config);
  }

  bool QueryConfig(const std::string& name, ServiceConfig& config) override {
    if (!Exists(name)) return false;
    // The user's folder comes first, as for systemd.
    const std::string own = UnitPath(name);
    std::ifstream in(::access(own.c_str(), F_OK) == 0 ? own : PackagedUnitPath(name));
    if (!in) return false;
    ServiceConfig parsed;
    parsed.name = name;
    parsed.start_type = StartType::kOnDemand;
    bool have_exe = false;
    std::string line;
    while (std::getline(in, line)) {
      if (line == kDisabledMarker) parsed.start_type = StartType::kDisabled;
      else if (line.rfind("Description=", 0) == 0) parsed.display_name = UnescapeSpecifiers(line.substr(12));
      else if (line.rfind("ExecStart=", 0) == 0) {
        parsed.executable = UnquoteExec(line.substr(10));
        have_exe = true;
      }
    }
    if (!have_exe) return false;
    std::string out;
    Systemctl({"is-enabled", Unit(name)}, out);
    if (FirstLine(out) == "enabled") parsed.start_type = StartType::kAutomatic;
    config = parsed;
    return true;
  }

  bool ChangeConfig(const ServiceConfig& config) override {
    if (!Valid(config) || !Exists(config.name)) return false;
    return Install(config);
  }

  bool Remove(const std::string& name) override {
    if (::access(UnitPath(name).c_str(), F_OK) != 0) return false;  // the package's stays
    std::string out;
    Systemctl({"disable", Unit(name)}, out);
    if (std::remove(UnitPath(name).c_str()) != 0) return false;
    Systemctl({"daemon-reload"}, out);
    return true;
  }

  ServiceState Query(const std::string& name) override {
    if (!IsValidServiceName(name)) return ServiceState::kUnknown;
    std::string out;
    Systemctl({"is-active", Unit(name)}, out);
    std::string state = FirstLine(out);
    if (state == "active" || state == "reloading") return ServiceState::kRunning;
    if (state == "activating") return ServiceState::kStartPending;
    if (state == "deactivating") return ServiceState::kStopPending;
    if (state == "inactive" || state == "failed") return ServiceState::kStopped;
    return ServiceState::kUnknown;
  }

  bool Start(const std::string& name, bool* already_running) override {
    if (already_running) *already_running = false;
    ServiceConfig config;
    if (!QueryConfig(name, config) || config.start_type == StartType::kDisabled) return false;
    if (Query(name) == ServiceState::kRunning) {
      if (already_running) *already_running = true;
      return false;
    }
    std::string out;
    return Systemctl({"start", Unit(name)}, out) == 0;
  }

  bool Stop(const std::string& name) override {
    if (!Exists(name)) return false;
    std::string out;
    return Systemctl({"stop", "--no-block", Unit(name)}, out) == 0;
  }

  bool Control(const std::string& name, int code, std::chrono::milliseconds timeout) override {
    if (code < 128 || code > 255 || !IsValidServiceName(name)) return false;
    if (Query(name) != ServiceState::kRunning) return false;
    return SendControlCode(ControlSocketPath(name), code, timeout);
  }

 private:
  static std::string Unit(const std::string& name) { return name + ".service"; }
  std::string UnitPath(const std::string& name) const { return folder_ + "/" + Unit(name); }

  static bool Valid(const ServiceConfig& c) {
    return IsValidServiceName(c.name) && !c.executable.empty() && c.executable[0] == '/' &&
           !HasLineBreak(c.display_name) && !HasLineBreak(c.executable);
  }

  int Systemctl(std::vector<std::string> args, std::string& out) {
    args.insert(args.begin(), {"systemctl", "--user"});
    return run_(args, out);
  }

  // The package's unit for `name` in the first folder that has one; empty if none.
  std::string PackagedUnitPath(const std::string& name) const {
    for (const std::string& folder : packaged_folders_) {
      const std::string path = folder + "/" + Unit(name);
      if (::access(path.c_str(), F_OK) == 0) return path;
    }
    return {};
  }

  // The package's unit starts `executable` (its ExecStart may name a link to it).
  bool PackagedUnitStarts(const std::string& name, const std::string& executable) const {
    const std::string packaged = PackagedUnitPath(name);
    if (packaged.empty()) return false;
    std::ifstream in(packaged);
    std::string line, exec;
    while (std::getline(in, line)) {
      if (line.rfind("ExecStart=", 0) == 0) exec = UnquoteExec(line.substr(10));
    }
    struct stat a {}, b {};
    return !exec.empty() && ::stat(exec.c_str(), &a) == 0 &&
           ::stat(executable.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }

  bool Install(const ServiceConfig& c) {
    std::string out;
    if (PackagedUnitStarts(c.name, c.executable)) {
      // A unit this program wrote earlier would shadow the package's.
      std::string own;
      if (ReadFile(UnitPath(c.name), own) && own.rfind("# Written by Quarno", 0) == 0 &&
          std::remove(UnitPath(c.name).c_str()) != 0)
        return false;
    } else {
      if (!MakeDirs(folder_)) return false;
      if (!ReplaceFile(UnitPath(c.name), SystemdUnitText(c))) return false;
    }
    if (Systemctl({"daemon-reload"}, out) != 0) return false;
    const char* verb = c.start_type == StartType::kAutomatic ? "enable" : "disable";
    return Systemctl({verb, Unit(c.name)}, out) == 0;
  }

  CommandRunner run_;
  std::string folder_;
  std::vector<std::string> packaged_folders_;
};

}  // namespace

std::string SystemdUnitText(const ServiceConfig& config) {
  std::string text = "# Written by Quarno; changes are overwritten.\n";
  if (config.start_type == StartType::kDisabled) text += std::string(kDisabledMarker) + "\n";
  text += "[Unit]\nDescription=" + EscapeSpecifiers(config.display_name) +
          "\n\n[Service]\nType=simple\nExecStart=" + QuoteExec(config.executable) +
          "\nRestart=no\nKillSignal=SIGTERM\nTimeoutStopSec=30\n\n[Install]\nWantedBy=default.target\n";
  return text;
}

std::unique_ptr<ServiceManager> MakeSystemdServiceManager(
    CommandRunner runner, std::string unit_folder, std::vector<std::string> packaged_folders) {
  return std::make_unique<SystemdServiceManager>(std::move(runner), std::move(unit_folder),
                                                 std::move(packaged_folders));
}

}  // namespace quarno::platform
