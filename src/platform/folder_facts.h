#pragma once
// Facts about the desktop around the shared folder: what a folder text names,
// and which firewall front end guards the PC.
#include <string>

namespace quarno::platform {

enum class FolderPlace {
  kFolder,     // an existing folder (on any file system)
  kNotFolder,  // not an absolute path, or it names something that is not a folder
  kMissing,    // nothing there, on a local file system
  kNetwork,    // nothing there, below a network file system's mount
  kOptical,    // nothing there, below an optical disc's mount
};

// Follows links. For a missing path the nearest existing parent folder tells
// the file system it would lie on.
FolderPlace ExamineFolder(const std::string& path);

enum class FirewallFrontEnd { kNone, kUfw, kFirewalld };

// Which firewall front end is switched on, judged from its files under
// `root` (no root rights needed): ufw's "ENABLED=yes", firewalld's live pid.
FirewallFrontEnd ActiveFirewall(const std::string& root = "/");

}  // namespace quarno::platform
