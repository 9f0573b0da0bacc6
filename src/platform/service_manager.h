#pragma once
// Supervised background programs, standing in for the service control manager.
// Two back ends: systemd user units where a user manager runs, else the
// built-in supervisor (records under DataFolder()/services, detached start,
// pid files under RuntimeFolder(), stop by SIGTERM).
//
// Control codes (200, 190, 191) travel over the program's local control
// channel: a Unix stream socket at ControlSocketPath(service name). The client
// sends the code in ASCII decimal and "\n"; the program acts, then answers
// "OK\n" or "ERR <reason>\n". No answer within the time-out is a failed control.
// The program knows its own service name (quarno-ftpd: "Quarno_Server") and
// listens there while it runs. Control is refused at once for a service that
// is not running; for a running one the client retries the connection until
// its time-out, so a program that has not bound its socket yet still gets it.
//
// Service names are restricted to letters, digits, '_', '-' and '.', since
// they name files.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quarno::platform {

enum class StartType { kAutomatic, kOnDemand, kDisabled };
enum class ServiceState { kStopped, kStartPending, kStopPending, kRunning, kUnknown };

struct ServiceConfig {
  std::string name;          // "Quarno_Server", "Quarno_Bootup_Service"
  std::string display_name;  // "Quarno Server ftp", ...
  std::string executable;    // full path, no arguments
  StartType start_type = StartType::kOnDemand;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  virtual bool Exists(const std::string& name) = 0;
  virtual bool Create(const ServiceConfig& config) = 0;
  virtual bool QueryConfig(const std::string& name, ServiceConfig& config) = 0;
  virtual bool ChangeConfig(const ServiceConfig& config) = 0;
  virtual bool Remove(const std::string& name) = 0;
  virtual ServiceState Query(const std::string& name) = 0;
  // Starting a running service fails with `already_running` set.
  virtual bool Start(const std::string& name, bool* already_running = nullptr) = 0;
  // Asks the service to stop; does not wait.
  virtual bool Stop(const std::string& name) = 0;
  // Delivers a user control code (128..255) over the control channel.
  virtual bool Control(const std::string& name, int code,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) = 0;
};

// The back end for this machine: systemd user units when `systemctl --user`
// reaches a running manager, the built-in supervisor otherwise (and always
// when QUARNO_SUPERVISOR=builtin, as tests set).
std::unique_ptr<ServiceManager> MakeServiceManager();

// RuntimeFolder() + "/" + name + ".ctl"
std::string ControlSocketPath(const std::string& service_name);

// Waits for `state` with a bounded total time and a sleep floor between polls.
bool WaitForServiceState(ServiceManager& manager, const std::string& name, ServiceState state,
                         std::chrono::milliseconds limit = std::chrono::seconds(60),
                         std::chrono::milliseconds poll = std::chrono::milliseconds(100));

// Stop, then wait (bounded) until the service reports stopped.
bool StopAndWait(ServiceManager& manager, const std::string& name,
                 std::chrono::milliseconds limit = std::chrono::seconds(30));

// The client side of the control channel: sends "<code>\n" to the socket at
// `socket_path` and reads one answer line. A missing or refusing socket is
// retried until the time-out (the program may be starting). False on no
// channel, no answer in time, or "ERR ..." (its reason goes to `reason`).
bool SendControlCode(const std::string& socket_path, int code, std::chrono::milliseconds timeout,
                     std::string* reason = nullptr);

bool IsValidServiceName(const std::string& name);

// ---- the two back ends, for tests and for callers that must choose ----

// Records in DataFolder()/services/<name>.service, pid files in RuntimeFolder().
std::unique_ptr<ServiceManager> MakeBuiltinServiceManager();

// Runs argv (argv[0] looked up in PATH), collects standard output; returns the
// exit status, or -1 when the program could not run or did not end within 30 s.
using CommandRunner = std::function<int(const std::vector<std::string>& argv, std::string& out)>;
int RunCommand(const std::vector<std::string>& argv, std::string& out);

// `systemctl --user` back end. Unit files go to `unit_folder` (empty:
// $XDG_CONFIG_HOME/systemd/user); commands go through `runner`. Units the
// package installed are looked for in `packaged_folders`, first match first.
std::unique_ptr<ServiceManager> MakeSystemdServiceManager(
    CommandRunner runner = RunCommand, std::string unit_folder = {},
    std::vector<std::string> packaged_folders = {"/etc/systemd/user",
                                                 "/usr/local/lib/systemd/user",
                                                 "/usr/lib/systemd/user"});
// The unit file text for a service (what the systemd back end writes).
std::string SystemdUnitText(const ServiceConfig& config);

}  // namespace quarno::platform
