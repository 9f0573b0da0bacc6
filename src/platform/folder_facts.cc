#include "platform/folder_facts.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace quarno::platform {

namespace {

// statfs magic numbers (linux/magic.h and the file systems' own headers).
constexpr unsigned long kNfs = 0x6969;
constexpr unsigned long kSmb = 0x517B;
constexpr unsigned long kCifs = 0xFF534D42;
constexpr unsigned long kSmb2 = 0xFE534D42;
constexpr unsigned long kCoda = 0x73757245;
constexpr unsigned long kAfs = 0x5346414F;
constexpr unsigned long kNcp = 0x564C;
constexpr unsigned long kCeph = 0x00C36400;
constexpr unsigned long kIso9660 = 0x9660;
constexpr unsigned long kUdf = 0x15013346;

std::string Parent(const std::string& path) {
  const auto slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

FolderPlace ExamineFolder(const std::string& path) {
  if (path.empty() || path[0] != '/') return FolderPlace::kNotFolder;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode) ? FolderPlace::kFolder : FolderPlace::kNotFolder;
  }
  std::string existing = path;
  for (int depth = 0; depth < 4096; ++depth) {
    existing = Parent(existing);
    if (stat(existing.c_str(), &st) == 0 || existing == "/") break;
  }
  struct statfs fs {};
  if (statfs(existing.c_str(), &fs) != 0) return FolderPlace::kMissing;
  switch (static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul) {
    case kNfs:
    case kSmb:
    case kCifs:
    case kSmb2:
    case kCoda:
    case kAfs:
    case kNcp:
    case kCeph:
      return FolderPlace::kNetwork;
    case kIso9660:
    case kUdf:
      return FolderPlace::kOptical;
    default:
      return FolderPlace::kMissing;
  }
}

FirewallFrontEnd ActiveFirewall(const std::string& root) {
  const std::string base = root.empty() || root.back() != '/' ? root + "/" : root;
  {
    std::ifstream conf(base + "etc/ufw/ufw.conf");
    std::string line;
    while (std::getline(conf, line)) {
      const auto first = line.find_first_not_of(" \t");
      if (first == std::string::npos || line[first] == '#') continue;
      if (line.compare(first, 11, "ENABLED=yes") == 0) return FirewallFrontEnd::kUfw;
    }
  }
  for (const char* pid_file : {"run/firewalld.pid", "var/run/firewalld.pid"}) {
    std::ifstream in(base + pid_file);
    long pid = 0;
    if (in >> pid && pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
      return FirewallFrontEnd::kFirewalld;
    }
  }
  return FirewallFrontEnd::kNone;
}

}  // namespace quarno::platform
