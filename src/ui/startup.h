#pragma once
// How quarno-server comes up before any window: one instance per session,
// the hand-over from a running boot-up service, the tray-start setting, and
// the values the start-up leaves for the main window.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/named_mutex.h"
#include "platform/netinfo.h"
#include "platform/service_manager.h"

namespace quarno::ui {

inline constexpr char kStartMutexName[] =
    "Quarno_Server_Start_{C8C89500-D13A-4082-9B0B-90ED0DD70437}";
inline constexpr char kBootServiceName[] = "Quarno_Bootup_Service";
inline constexpr char kAlreadyRunningText[] = "Quarno Server가 이미 실행 중입니다.";

// Holds the start mutex for the life of the process. kAlreadyExists: another
// instance runs (show kAlreadyRunningText and end). kFailed: start-up goes on
// without the guard, as a mutex that cannot be made does not stop the program.
platform::NamedMutex::Result AcquireStartMutex(std::unique_ptr<platform::NamedMutex>& holder);

// Stops a running boot-up service and takes over the admin port it left in
// ADMIN_PORT; 0 when the service was not running (or left no usable port).
// ADMIN_PORT is deleted in every case. The wait for the service to stop is
// bounded by `stop_limit`; a service that does not stop in time is left to
// its supervisor and the port is still taken over, since the FTP server it
// started runs on its own.
int TakeOverFromBootService(platform::ServiceManager& manager,
                            std::chrono::milliseconds stop_limit = std::chrono::seconds(30));

// `tray_execution` reads exactly "true" (any other value, or none: false).
bool ReadTrayStartFlag();

// Screen rectangle of the initialization window.
struct WindowRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const WindowRect&) const = default;
};

// Process-wide values of the start-up. Written by the start-up code and the
// initialization thread; the main window reads them after INIT_DONE.
struct StartupValues {
  bool tray_start = false;
  bool ftp_server_running = false;  // the boot-up service had started it
  uint16_t admin_port = 0;
  std::string router_address;
  std::string local_address;
  platform::MacAddress router_mac{};
  std::string router_model;
  std::string router_firmware_version;
  std::string latest_firmware_version;
  bool router_password_required = false;
  std::string latest_program_version;
  std::string home_folder;
};

// The start-up values and the hand-over of the initialization window's place
// to the main window; guarded so the initialization thread and the window
// thread may both use them.
class StartupState {
 public:
  StartupValues Get() const {
    std::lock_guard lock(mutex_);
    return values_;
  }
  template <typename F>
  void Update(F&& change) {
    std::lock_guard lock(mutex_);
    change(values_);
  }
  // The minimize button keeps the last normal rectangle.
  void SaveInitWindowRect(const WindowRect& rect);
  // The window ended normally: the main window opens where it was, when its
  // right and bottom edges were above 0.
  void MarkInitWindowEndedNormally(const WindowRect& rect);
  bool InitWindowEndedNormally() const;
  // The rectangle the main window takes over; nullopt when there is none.
  std::optional<WindowRect> HandOverRect() const;

 private:
  mutable std::mutex mutex_;
  StartupValues values_;
  bool ended_normally_ = false;
  std::optional<WindowRect> rect_;
};

}  // namespace quarno::ui
