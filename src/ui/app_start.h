#pragma once
// The order in which quarno-server comes up, up to the initialization window
// and from it to the main window. The toolkit's main() runs:
//
//   StartUp(...)                       single instance, boot-service hand-over, tray flag
//   CFirmware_Update (modal)           initialization sequence and pages
//   HandOverToMainWindow(...)          when it ended with OK: the main window's start values
//   CQuarnoUIDlg (hidden when tray)    until the program ends
#include <memory>

#include "platform/named_mutex.h"
#include "platform/service_manager.h"
#include "ui/main_window.h"
#include "ui/startup.h"
#include "ui/view.h"

namespace quarno::ui {

enum class StartOutcome {
  kContinue,        // go on to the initialization window
  kAlreadyRunning,  // another instance runs: the message was shown, end now
};

// Holds the start mutex in `mutex` (another instance: "Quarno Server가 이미
// 실행 중입니다." and kAlreadyRunning), takes over from a running boot-up
// service (log "부팅시 자동으로 실행되었습니다. [%d]"; the FTP server is then
// already running) or else logs "프로그램이 시작되었습니다." and removes the
// share links a previous run left, and reads the tray-start flag.
StartOutcome StartUp(View& view, platform::ServiceManager& manager, StartupState& state,
                     std::unique_ptr<platform::NamedMutex>& mutex);

// The values the main window starts from once the initialization window
// ended with OK: router facts, admin port, FTP-server-running and tray flags,
// and the place of the initialization window.
void HandOverToMainWindow(const StartupState& state, StartupFacts& facts);

}  // namespace quarno::ui
