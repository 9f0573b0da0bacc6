#pragma once
// Where things live. Every folder a program writes to follows the XDG base
// directories, so a test relocates all of it by setting XDG_* variables.
#include <string>

namespace quarno::platform {

// Folder of the running executable (no trailing slash). Shipped files
// (quarno-ftpd beside quarno-server, help pages) are found here.
std::string ProgramFolder();
// Full path of the running executable.
std::string ExecutablePath();

// $XDG_CONFIG_HOME itself (default ~/.config; a relative value is ignored).
std::string XdgConfigHome();
// XdgConfigHome() + "/autostart": per-logon start entries of the desktop.
std::string AutostartFolder();

// $XDG_CONFIG_HOME/quarno (default ~/.config/quarno): the settings key files.
std::string ConfigFolder();
// $XDG_STATE_HOME/quarno (default ~/.local/state/quarno): logs when the
// program folder is read-only, and the home folder "zelhome".
std::string StateFolder();
// $XDG_DATA_HOME/quarno (default ~/.local/share/quarno): supervisor records.
std::string DataFolder();
// $XDG_RUNTIME_DIR/quarno (fallback /tmp/quarno-<uid>, mode 0700): sockets,
// pid files, locks that must die with the session.
std::string RuntimeFolder();

// Files the system writes (configuration file of the FTP server, Logs/,
// downloads): the program folder when it is writable, else StateFolder().
std::string WritableFolder();

// The home folder that FTP and HTTP serve: StateFolder() + "/zelhome".
std::string HomeFolder();

// mkdir -p with the given mode for created folders; true when the folder exists afterwards.
bool MakeDirs(const std::string& path, unsigned mode = 0700);

}  // namespace quarno::platform
