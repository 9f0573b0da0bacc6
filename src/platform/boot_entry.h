#pragma once
// The boot start where no systemd user manager starts enabled units: one
// "@reboot" line in the user's crontab, which cron runs at every boot,
// before anyone logs on. The line carries a tag comment, so it is found
// again and never touches the user's other lines.
#include <string>

#include "platform/service_manager.h"

namespace quarno::platform {

enum class BootEntryResult {
  kDone,
  kNoCron,  // no crontab program: nothing here runs commands at boot
  kFailed,  // crontab refused the table (e.g. the user is not allowed cron)
};

// Sets the tagged line to "@reboot <command> # <tag>", or removes it when
// `command` is empty. `run` runs crontab (tests pass a stand-in).
BootEntryResult SetBootEntry(const std::string& tag, const std::string& command,
                             const CommandRunner& run = RunCommand);

// The tagged line's command; empty when there is none.
std::string BootEntryCommand(const std::string& tag, const CommandRunner& run = RunCommand);

// Whether a systemd user manager runs here (what MakeServiceManager decides).
bool SystemdUserManagerRuns();

}  // namespace quarno::platform
