#pragma once
// The auto-start option: quarno-server starts at every logon from an XDG
// autostart entry, and the boot-up service and the FTP server's service
// start on their own. The entry is the evidence the main window reads.
#include <string>

#include "platform/service_manager.h"

namespace quarno::ui {

inline constexpr char kAutoStartEntryName[] = "quarno-server.desktop";
inline constexpr char kBootServiceDisplayName[] = "Quarno Bootup Service";
inline constexpr char kBootServiceExecutable[] = "quarno-bootup-service";
inline constexpr char kBootServiceMissingText[] =
    "Quarno_Bootup_Service 실행파일을 찾을 수 없습니다.\n\n해당 경로에 파일이 존재하는지 "
    "확인하시기 바랍니다.";

// AutostartFolder()/quarno-server.desktop ($XDG_CONFIG_HOME honoured).
std::string AutoStartEntryPath();
// True when the entry exists, whatever it holds.
bool IsAutoStartRegistered();
// The entry's text for the program at `executable`.
std::string AutoStartEntryText(const std::string& executable);

struct AutoStartOptions {
  std::string program_folder;     // where quarno-bootup-service lies (default ProgramFolder())
  std::string server_executable;  // the running quarno-server (default /proc/self/exe)
  std::string user;               // for loginctl (default: the current user's name)
  // Runs loginctl; tests pass a stand-in.
  platform::CommandRunner run_command = platform::RunCommand;
};

// ProgramFolder()/quarno-bootup-service (or the options' folder).
std::string BootServiceExecutablePath(const AutoStartOptions& options = {});

// Whether services keep running, and start, without a session of the user.
enum class LingerOutcome {
  kNotAsked,        // switching off never touches it
  kAlreadyEnabled,
  kEnabled,
  kRefused,         // loginctl said no (no right to change it)
  kUnavailable,     // no loginctl here (no systemd): only the logon start works
};

struct AutoStartResult {
  bool entry_ok = false;         // the entry is written or removed as asked
  bool boot_service_ok = false;  // the boot-up service is registered with this executable
  LingerOutcome linger = LingerOutcome::kNotAsked;
};

// Registers (or re-points) the boot-up service, then writes or removes the
// entry and sets both services' start types: automatic when `on`, on demand
// otherwise. Switching on also asks for lingering. Failures are logged.
AutoStartResult ApplyAutoStart(bool on, platform::ServiceManager& manager,
                               const AutoStartOptions& options = {});

// The window's view of the option, so its tests can watch the calls: the
// program's implementation runs the functions above.
class AutoStart {
 public:
  virtual ~AutoStart() = default;
  // True when the boot-up service's executable lies beside the program (the
  // box refuses with a message otherwise).
  virtual bool BootServiceExecutablePresent() = 0;
  // True when the program is set to start at logon.
  virtual bool IsAutoStartRegistered() = 0;
  // Registers (true) or removes (false) the program's start at logon and sets
  // the boot-up service's start type to match. Runs long (service manager);
  // false when any part failed.
  virtual bool ApplyAutoStart(bool enabled) = 0;
};

}  // namespace quarno::ui
