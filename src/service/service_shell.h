#pragma once
// The process around the boot work of quarno-bootup-service.
//
// Started by a supervisor, it runs the boot sequence once, on its own thread,
// reports itself running at once (systemd: READY=1), and then runs until a
// stop or shutdown request (SIGTERM, SIGINT, SIGHUP), which ends the process
// promptly whatever the boot work is doing. When the boot work left the
// servers serving, that thread then checks their port mappings on the router
// every heal_period (5 minutes; QUARNO_BOOT_TIMINGS sets it) and repairs them
// (src/registration/mapping_healer.h). Started by hand it does nothing.
// When the boot work ends, systemd's status line (and any NOTIFY_SOCKET
// listener) gets "STATUS=boot work ended, result N" with the launcher's code.
//
// Supervised or by hand: QUARNO_SUPERVISED=1 or =0 in the environment says so
// outright. Otherwise a process with a controlling terminal was started by
// hand (from a shell: no boot work, exit status 0), and one without a
// terminal by a supervisor: systemd and the built-in supervisor both start
// services in a session of their own. NOTIFY_SOCKET (a Type=notify unit
// waiting for readiness) also means supervised.
#include <functional>
#include <memory>
#include <string>

#include "platform/service_manager.h"
#include "service/boot_system.h"
#include "service/server_launcher.h"

namespace quarno {

inline constexpr char kBootupServiceName[] = "Quarno_Bootup_Service";
inline constexpr char kBootupServiceDisplayName[] = "Quarno Bootup Service";
inline constexpr char kServerStartMutexName[] =
    "Quarno_Server_Start_{C8C89500-D13A-4082-9B0B-90ED0DD70437}";

// The service record quarno-server installs for this program (automatic
// start when the auto-start option is on, on demand otherwise).
platform::ServiceConfig BootupServiceConfig(
    platform::StartType start_type = platform::StartType::kOnDemand);

bool StartedBySupervisor();

// Overrides of the launcher's waits and pauses from QUARNO_BOOT_TIMINGS, a
// comma-separated list of name=milliseconds (names as in LauncherOptions,
// e.g. "settle_after_start=100,network_interval=10"; also network_tries=N,
// and heal_period / heal_poll for the check of the mappings).
// The lab and the benchmark use it; unknown names are ignored.
LauncherOptions LauncherOptionsFromEnvironment(LauncherOptions base = {});
// The same list for the real clients' waits: router_connect_timeout and
// router_receive_timeout (the router check at boot).
BootSystemOptions BootSystemOptionsFromEnvironment(BootSystemOptions base = {});

struct ShellOptions {
  LauncherOptions launcher = LauncherOptionsFromEnvironment();
  BootSystemOptions system = BootSystemOptionsFromEnvironment();
  // The world the launcher acts on: MakeBootSystem(system) in the program,
  // a fake in tests.
  std::function<std::unique_ptr<BootWorld>()> make_system;
};

// The boot worker: the single-instance check, the launcher, ADMIN_PORT.
// Returns the launcher's result, or -1 when Quarno_Server was running.
// `while_serving` runs after a boot that left the servers serving, before
// the result is returned.
int RunBootWork(BootSystem system, const LauncherOptions& options,
                const std::function<void(CServerLauncher&)>& while_serving = {});
// Keeps the servers' mappings on the router through `mapper` (heal_period,
// heal_poll of `options`) until `stop` is requested.
void HealWhileServing(BootSystem system, PortMapper& mapper, CServerLauncher& launcher,
                      const LauncherOptions& options, HealerStop& stop);

// Process entry of quarno-bootup-service; the exit status.
int RunBootupService(const ShellOptions& options = {});

}  // namespace quarno
