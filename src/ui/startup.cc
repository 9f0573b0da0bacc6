#include "ui/startup.h"

#include <charconv>

#include "core/log.h"
#include "core/settings.h"

namespace quarno::ui {

platform::NamedMutex::Result AcquireStartMutex(std::unique_ptr<platform::NamedMutex>& holder) {
  return platform::NamedMutex::Create(kStartMutexName, holder);
}

int TakeOverFromBootService(platform::ServiceManager& manager,
                            std::chrono::milliseconds stop_limit) {
  int port = 0;
  const bool running = manager.Exists(kBootServiceName) &&
                       manager.Query(kBootServiceName) != platform::ServiceState::kStopped;
  if (running) {
    if (!platform::StopAndWait(manager, kBootServiceName, stop_limit))
      WriteLog("Quarno_Bootup_Service did not stop within %lld s",
               static_cast<long long>(stop_limit.count() / 1000));
    std::string text;
    if (ReadSetting(setting::kAdminPort, text)) {
      // Only a whole decimal port counts; "0" is what a failed boot run leaves.
      int value = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (ec == std::errc() && end == text.data() + text.size() && value > 0 && value < 65536)
        port = value;
    }
  }
  DeleteSetting(setting::kAdminPort);
  return port;
}

bool ReadTrayStartFlag() {
  std::string value;
  return ReadSetting(setting::kTrayExecution, value) && value == "true";
}

void StartupState::SaveInitWindowRect(const WindowRect& rect) {
  std::lock_guard lock(mutex_);
  if (rect.right > 0 && rect.bottom > 0) rect_ = rect;
}

void StartupState::MarkInitWindowEndedNormally(const WindowRect& rect) {
  std::lock_guard lock(mutex_);
  ended_normally_ = true;
  if (rect.right > 0 && rect.bottom > 0) rect_ = rect;
}

bool StartupState::InitWindowEndedNormally() const {
  std::lock_guard lock(mutex_);
  return ended_normally_;
}

std::optional<WindowRect> StartupState::HandOverRect() const {
  std::lock_guard lock(mutex_);
  if (!ended_normally_) return std::nullopt;
  return rect_;
}

}  // namespace quarno::ui
