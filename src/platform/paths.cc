#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace quarno::platform {
namespace {

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

// XDG says relative values are invalid and must be ignored.
std::string XdgBase(const char* variable, const char* fallback_under_home) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return value;
  return HomeDir() + "/" + fallback_under_home;
}

std::string Dirname(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

std::string ProgramFolder() {
  const std::string exe = ExecutablePath();
  if (exe.empty()) return ".";
  return Dirname(exe);
}

std::string XdgConfigHome() { return XdgBase("XDG_CONFIG_HOME", ".config"); }
std::string AutostartFolder() { return XdgConfigHome() + "/autostart"; }
std::string ConfigFolder() { return XdgConfigHome() + "/quarno"; }
std::string StateFolder() { return XdgBase("XDG_STATE_HOME", ".local/state") + "/quarno"; }
std::string DataFolder() { return XdgBase("XDG_DATA_HOME", ".local/share") + "/quarno"; }

std::string RuntimeFolder() {
  const char* value = std::getenv("XDG_RUNTIME_DIR");
  if (value && value[0] == '/') {
    std::string folder = std::string(value) + "/quarno";
    MakeDirs(folder, 0700);
    return folder;
  }
  // /tmp is shared: only a folder that is really ours (not a link, not planted
  // by another user) may hold our locks and sockets.
  std::string folder = "/tmp/quarno-" + std::to_string(getuid());
  MakeDirs(folder, 0700);
  struct stat st {};
  if (lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid()) {
    if ((st.st_mode & 0077) != 0) chmod(folder.c_str(), 0700);
    return folder;
  }
  folder = StateFolder() + "/run";
  MakeDirs(folder, 0700);
  return folder;
}

std::string WritableFolder() {
  // Tests point this at their own temp folder so parallel runs never share a log.
  const char* forced = std::getenv("QUARNO_WRITABLE_FOLDER");
  if (forced && forced[0] == '/') return forced;
  std::string program = ProgramFolder();
  // An installed copy lives under /usr (or /opt): its folder belongs to the
  // package manager even when this user (root) may write to it.
  const bool installed = program.rfind("/usr/", 0) == 0 || program.rfind("/opt/", 0) == 0;
  if (!installed && access(program.c_str(), W_OK) == 0) return program;
  std::string state = StateFolder();
  MakeDirs(state, 0700);
  return state;
}

std::string HomeFolder() { return StateFolder() + "/zelhome"; }

bool MakeDirs(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string::size_type pos = 0;
  while (true) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (pos == std::string::npos) break;
  }
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace quarno::platform
