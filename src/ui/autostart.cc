#include "ui/autostart.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "core/log.h"
#include "ftpctl/ftp_server.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "ui/startup.h"

namespace quarno::ui {
namespace {

std::string CurrentUser() {
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
  return std::to_string(getuid());
}

// One argument of an Exec line: quoted, with the characters the desktop
// entry format reserves escaped by a backslash, which the value's own string
// escaping doubles again (a literal backslash becomes four); '%' doubled.
std::string ExecArgument(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$') {
      out += "\\\\";
      out += c;
    } else if (c == '\\') {
      out += "\\\\\\\\";
    } else if (c == '%') {
      out += "%%";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void SetStartType(platform::ServiceManager& manager, const std::string& name,
                  platform::StartType type) {
  platform::ServiceConfig config;
  if (!manager.Exists(name) || !manager.QueryConfig(name, config)) return;
  config.start_type = type;
  if (!manager.ChangeConfig(config)) WriteLog("start type of %s not changed", name.c_str());
}

// For /bin/sh, as cron runs the line; '%' is cron's own line break.
std::string CronShellWord(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else if (c == '%') out += "'\\%'";
    else out += c;
  }
  return out + "'";
}

LingerOutcome AskForLinger(const AutoStartOptions& options) {
  const std::string user = options.user.empty() ? CurrentUser() : options.user;
  std::string out;
  const int shown =
      options.run_command({"loginctl", "show-user", user, "--property=Linger", "--value"}, out);
  if (shown < 0) return LingerOutcome::kUnavailable;
  if (shown == 0 && out.rfind("yes", 0) == 0) return LingerOutcome::kAlreadyEnabled;
  const int asked = options.run_command({"loginctl", "enable-linger", user}, out);
  if (asked < 0) return LingerOutcome::kUnavailable;
  return asked == 0 ? LingerOutcome::kEnabled : LingerOutcome::kRefused;
}

}  // namespace

std::string AutoStartEntryPath() { return platform::AutostartFolder() + "/" + kAutoStartEntryName; }

bool IsAutoStartRegistered() { return platform::PathExists(AutoStartEntryPath()); }

std::string AutoStartEntryText(const std::string& executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Quarno Server\n"
         "Comment=Quarno disk server\n"
         "Exec=" +
         ExecArgument(executable) +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

std::string BootServiceExecutablePath(const AutoStartOptions& options) {
  const std::string folder =
      options.program_folder.empty() ? platform::ProgramFolder() : options.program_folder;
  return folder + "/" + kBootServiceExecutable;
}

AutoStartResult ApplyAutoStart(bool on, platform::ServiceManager& manager,
                               const AutoStartOptions& options) {
  AutoStartResult result;
  const std::string boot_exe = BootServiceExecutablePath(options);

  // The boot-up service, pointing at this folder's executable.
  platform::ServiceConfig config;
  if (manager.Exists(kBootServiceName) && manager.QueryConfig(kBootServiceName, config)) {
    result.boot_service_ok = true;
    if (config.executable != boot_exe) {
      config.executable = boot_exe;
      result.boot_service_ok = manager.ChangeConfig(config);
    }
  } else {
    result.boot_service_ok = manager.Create(
        {kBootServiceName, kBootServiceDisplayName, boot_exe, platform::StartType::kOnDemand});
  }
  if (!result.boot_service_ok) WriteLog("Quarno_Bootup_Service could not be registered");

  const std::string entry = AutoStartEntryPath();
  const auto type = on ? platform::StartType::kAutomatic : platform::StartType::kOnDemand;
  if (on) {
    const std::string exe =
        options.server_executable.empty() ? platform::ExecutablePath() : options.server_executable;
    result.entry_ok = exe.find('\n') == std::string::npos &&
                      platform::MakeDirs(platform::AutostartFolder(), 0700) &&
                      platform::ReplaceFile(entry, AutoStartEntryText(exe), 0644);
  } else {
    result.entry_ok = platform::RemoveFile(entry);
  }
  if (!result.entry_ok) WriteLog("autostart entry %s could not be changed", entry.c_str());
  SetStartType(manager, ftpctl::kFtpServiceName, type);
  SetStartType(manager, kBootServiceName, type);

  if (options.systemd_runs()) {
    if (on) {
      result.linger = AskForLinger(options);
      if (result.linger == LingerOutcome::kRefused)
        WriteLog("loginctl enable-linger was refused: the servers start only after logon");
      else if (result.linger == LingerOutcome::kUnavailable)
        WriteLog("no loginctl: the servers start only after logon");
    }
  } else {
    result.boot_entry = platform::SetBootEntry(
        kBootEntryTag, on ? BootEntryCommandFor(boot_exe) : std::string(), options.run_command);
    if (*result.boot_entry == platform::BootEntryResult::kNoCron)
      WriteLog("no systemd and no cron: the servers start only after logon");
    else if (*result.boot_entry == platform::BootEntryResult::kFailed)
      WriteLog("crontab refused the boot line: the servers start only after logon");
  }
  return result;
}

std::string BootEntryCommandFor(const std::string& boot_executable) {
  std::string command;
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                           "QUARNO_WRITABLE_FOLDER", "QUARNO_FTPD_LISTEN"}) {
    const char* value = std::getenv(name);
    if (value && *value) command += std::string(name) + "=" + CronShellWord(value) + " ";
  }
  return command + CronShellWord(boot_executable) + " --start-services";
}

AutoStartProblem ProblemOf(const AutoStartResult& result, bool on) {
  if (!result.entry_ok || !result.boot_service_ok) return AutoStartProblem::kFailed;
  if (!on) return AutoStartProblem::kNone;
  if (result.linger == LingerOutcome::kRefused || result.linger == LingerOutcome::kUnavailable)
    return AutoStartProblem::kLingerRefused;
  if (result.boot_entry == platform::BootEntryResult::kNoCron) return AutoStartProblem::kNoBootStart;
  if (result.boot_entry == platform::BootEntryResult::kFailed) return AutoStartProblem::kCronRefused;
  return AutoStartProblem::kNone;
}

}  // namespace quarno::ui

namespace quarno::ui {

bool SystemAutoStart::BootServiceExecutablePresent() {
  return platform::PathExists(BootServiceExecutablePath(options_));
}

bool SystemAutoStart::IsAutoStartRegistered() { return ui::IsAutoStartRegistered(); }

AutoStartProblem SystemAutoStart::ApplyAutoStart(bool enabled) {
  last_ = ui::ApplyAutoStart(enabled, manager_, options_);
  return ProblemOf(last_, enabled);
}

}  // namespace quarno::ui
