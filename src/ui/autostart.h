#pragma once
// Auto-start at logon and the boot-up service's start type, as the main
// window's "시작시 자동실행" box drives them. The real implementation lives
// with the installer (autostart.cc); the window takes the interface so tests
// can watch the calls.
namespace quarno::ui {

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
