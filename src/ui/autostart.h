#pragma once
// The auto-start option: quarno-server starts at every logon from an XDG
// autostart entry, and the boot-up service and the FTP server's service
// start on their own. The entry is the evidence the main window reads.
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/boot_entry.h"
#include "platform/service_manager.h"

namespace quarno::ui {

// What stands between the switched-on option and a start at boot; the main
// window tells the user all but kFailed, which is only logged.
enum class AutoStartProblem {
  kNone,
  kFailed,         // the entry or the boot-up service's record could not be written
  kLingerRefused,  // systemd: lingering refused, the user manager starts at logon only
  kNoBootStart,    // no systemd and no cron: nothing starts the service at boot
  kCronRefused,    // crontab refused the boot line
};

// What the main window's "시작시 자동실행" box drives; tests watch the calls.
class AutoStart {
 public:
  virtual ~AutoStart() = default;
  // True when the boot-up service's executable lies beside the program (the
  // box refuses with a message otherwise).
  virtual bool BootServiceExecutablePresent() = 0;
  // True when the program is set to start at logon.
  virtual bool IsAutoStartRegistered() = 0;
  // Registers (true) or removes (false) the program's start at logon and sets
  // the boot-up service's start type to match. Runs long (service manager).
  virtual AutoStartProblem ApplyAutoStart(bool enabled) = 0;
};

inline constexpr char kAutoStartEntryName[] = "quarno-server.desktop";
inline constexpr char kBootServiceDisplayName[] = "Quarno Bootup Service";
inline constexpr char kBootServiceExecutable[] = "quarno-bootup-service";

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
  // Runs loginctl and crontab; tests pass a stand-in.
  platform::CommandRunner run_command = platform::RunCommand;
  // Whether a systemd user manager starts enabled units; else the crontab's
  // boot line starts the built-in supervisor's automatic services.
  std::function<bool()> systemd_runs = platform::SystemdUserManagerRuns;
};

// ProgramFolder()/quarno-bootup-service (or the options' folder).
std::string BootServiceExecutablePath(const AutoStartOptions& options = {});

// Whether services keep running, and start, without a session of the user.
enum class LingerOutcome {
  kNotAsked,  // switching off never touches it
  kAlreadyEnabled,
  kEnabled,
  kRefused,      // loginctl said no (no right to change it)
  kUnavailable,  // no loginctl here (no systemd): only the logon start works
};

struct AutoStartResult {
  bool entry_ok = false;         // the entry is written or removed as asked
  bool boot_service_ok = false;  // the boot-up service is registered with this executable
  LingerOutcome linger = LingerOutcome::kNotAsked;
  // Without systemd: the crontab's boot line, written or removed.
  std::optional<platform::BootEntryResult> boot_entry;
};

// The tag of the crontab's boot line.
inline constexpr char kBootEntryTag[] = "Quarno_Bootup_Service";
// The boot line's command: the boot-up service's supervisor start, with the
// folders of this session where they are not the defaults.
std::string BootEntryCommandFor(const std::string& boot_executable);
AutoStartProblem ProblemOf(const AutoStartResult& result, bool on);

// Registers (or re-points) the boot-up service, then writes or removes the
// entry and sets both services' start types: automatic when `on`, on demand
// otherwise. Switching on also asks for lingering (systemd) or writes the
// crontab's boot line (no systemd; removed when switched off). Failures are logged.
AutoStartResult ApplyAutoStart(bool on, platform::ServiceManager& manager,
                               const AutoStartOptions& options = {});

// The AutoStart of the running program: the functions above on `manager`
// (which must outlive it).
class SystemAutoStart final : public AutoStart {
 public:
  explicit SystemAutoStart(platform::ServiceManager& manager, AutoStartOptions options = {})
      : manager_(manager), options_(std::move(options)) {}
  bool BootServiceExecutablePresent() override;
  bool IsAutoStartRegistered() override;
  AutoStartProblem ApplyAutoStart(bool enabled) override;
  // The outcome of the last ApplyAutoStart.
  AutoStartResult LastResult() const { return last_; }

 private:
  platform::ServiceManager& manager_;
  AutoStartOptions options_;
  AutoStartResult last_;
};

}  // namespace quarno::ui
