#include "ui/app_start.h"

#include "core/log.h"
#include "platform/paths.h"
#include "share/home_tree.h"

namespace quarno::ui {

StartOutcome StartUp(View& view, platform::ServiceManager& manager, StartupState& state,
                     std::unique_ptr<platform::NamedMutex>& mutex) {
  if (AcquireStartMutex(mutex) == platform::NamedMutex::Result::kAlreadyExists) {
    view.MessageBox(Surface::kMain, kAlreadyRunningText);
    return StartOutcome::kAlreadyRunning;
  }
  const int port = TakeOverFromBootService(manager);
  if (port != 0) {
    WriteLog("부팅시 자동으로 실행되었습니다. [%d]", port);
  } else {
    WriteLog("프로그램이 시작되었습니다.");
    share::RemoveHomeJunctions();
  }
  const bool tray = ReadTrayStartFlag();
  state.Update([&](StartupValues& v) {
    v.ftp_server_running = port != 0;
    v.admin_port = static_cast<uint16_t>(port);
    v.tray_start = tray;
  });
  return StartOutcome::kContinue;
}

void HandOverToMainWindow(const StartupState& state, StartupFacts& facts) {
  const StartupValues v = state.Get();
  facts.gateway = v.router_address;
  facts.local_address = v.local_address;
  facts.mac = v.router_mac;
  facts.ftp_server_running = v.ftp_server_running;
  facts.admin_port = v.admin_port;
  facts.tray_start = v.tray_start;
  if (const auto rect = state.HandOverRect())
    facts.init_rect = Rect{rect->left, rect->top, rect->right, rect->bottom};
  facts.program_folder = platform::ProgramFolder();
}

}  // namespace quarno::ui
