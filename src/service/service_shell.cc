#include "service/service_shell.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/log.h"
#include "core/settings.h"
#include "platform/daemon.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"

namespace quarno {

platform::ServiceConfig BootupServiceConfig(platform::StartType start_type) {
  return {kBootupServiceName, kBootupServiceDisplayName,
          platform::ProgramFolder() + "/quarno-bootup-service", start_type};
}

bool StartedBySupervisor() {
  if (const char* forced = std::getenv("QUARNO_SUPERVISED"); forced != nullptr) {
    if (std::strcmp(forced, "1") == 0) return true;
    if (std::strcmp(forced, "0") == 0) return false;
  }
  const char* notify = std::getenv("NOTIFY_SOCKET");
  if (notify != nullptr && notify[0] != '\0') return true;
  return !platform::daemon::HasControllingTerminal();
}

namespace {

// Calls `apply(name, value)` for each well-formed "name=value" item of
// QUARNO_BOOT_TIMINGS (values 0 to one hour).
template <typename Apply>
void ForEachBootTiming(Apply apply) {
  const char* text = std::getenv("QUARNO_BOOT_TIMINGS");
  if (text == nullptr) return;
  const std::string list = text;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string item = list.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    char* rest = nullptr;
    errno = 0;
    const long value = std::strtol(item.c_str() + eq + 1, &rest, 10);
    if (errno != 0 || rest == item.c_str() + eq + 1 || *rest != '\0' || value < 0 ||
        value > 3600 * 1000L) {
      continue;
    }
    apply(item.substr(0, eq), value);
  }
}

}  // namespace

LauncherOptions LauncherOptionsFromEnvironment(LauncherOptions options) {
  using Ms = std::chrono::milliseconds;
  struct Entry {
    const char* name;
    Ms* value;
  };
  const Entry entries[] = {
      {"ftp_service_wait", &options.ftp_service_wait},
      {"ftp_service_poll", &options.ftp_service_poll},
      {"network_interval", &options.network_interval},
      {"settle_after_start", &options.settle_after_start},
      {"settle_after_renew", &options.settle_after_renew},
      {"short_pause", &options.short_pause},
      {"ftp_port_open_wait", &options.ftp_port_open_wait},
      {"ftp_port_poll", &options.ftp_port_poll},
      {"heal_period", &options.heal_period},
      {"heal_poll", &options.heal_poll},
  };
  ForEachBootTiming([&](const std::string& name, long value) {
    if (name == "network_tries") options.network_tries = static_cast<int>(value);
    if (name == "renew_attempts") options.renew_attempts = static_cast<int>(value);
    for (const Entry& entry : entries) {
      if (name == entry.name) *entry.value = Ms(value);
    }
  });
  return options;
}

BootSystemOptions BootSystemOptionsFromEnvironment(BootSystemOptions options) {
  ForEachBootTiming([&](const std::string& name, long value) {
    if (name == "router_connect_timeout")
      options.router_connect_timeout = std::chrono::milliseconds(value);
    if (name == "router_receive_timeout")
      options.router_receive_timeout = std::chrono::milliseconds(value);
  });
  return options;
}

int RunBootWork(BootSystem system, const LauncherOptions& options,
                const std::function<void(CServerLauncher&)>& while_serving) {
  // Only a start mutex that is certainly free lets the boot work run: the
  // program holds it while it runs and owns the servers, and when the lock
  // cannot even be checked the servers are left alone too.
  int error = 0;
  if (platform::NamedMutex::Probe(kServerStartMutexName, error) !=
      platform::NamedMutex::Holder::kNobody) {
    WriteLog("Quarno Server가 실행 중입니다. [%d]", error);
    return -1;
  }
  CServerLauncher launcher(system, options);
  const int result = launcher.RunBootSequence();
  if (result != kBootOk) {
    (void)system.settings.Write(setting::kAdminPort, "0");
    WriteLog("윈도우 시작시 자동실행에 실패하였습니다.");
  } else {
    (void)system.settings.Write(setting::kAdminPort, std::to_string(launcher.AdminPort()));
    WriteLog("윈도우 시작시 자동실행에 성공하였습니다.");
  }
  if (result == kBootOk && launcher.Serving() && while_serving) while_serving(launcher);
  return result;
}

namespace {

bool ServerProgramRunning() {
  int error = 0;
  return platform::NamedMutex::Probe(kServerStartMutexName, error) !=
         platform::NamedMutex::Holder::kNobody;
}

// After the desktop program ran, the boot's servers are still the ones
// served only when the stored registration still names their ports; else the
// program registered anew (or removed the registration) and the boot's view
// of the servers, the account and the file is out of date.
bool StillServed(class SettingsStore& settings, const ServedMappings& served) {
  return !settings.Read(setting::kQuarno).value_or("").empty() &&
         settings.Read(setting::kFtpPort) == std::to_string(served.ftp_port) &&
         settings.Read(setting::kHttpPort) == std::to_string(served.http_port);
}

}  // namespace

void HealWhileServing(BootSystem system, PortMapper& mapper, CServerLauncher& launcher,
                      const LauncherOptions& options, HealerStop& stop) {
  HealerOptions heal;
  heal.period = options.heal_period;
  heal.poll = options.heal_poll;
  heal.after_network_back = std::min(heal.after_network_back, options.heal_period);
  heal.retry = std::min(heal.retry, options.heal_period);
  MappingHealer healer(mapper, system.network, system.clock, launcher, heal);
  healer.Serve(*launcher.Serving());
  WriteLog("UPnP 포트 포워드를 %lld초마다 점검합니다.",
           static_cast<long long>(
               std::chrono::duration_cast<std::chrono::seconds>(heal.period).count()));
  // While Quarno_Server runs, it owns the servers and their mappings (and
  // checks them itself); two checkers would put back each other's old ports.
  bool program_ran = false;
  while (!stop.Requested()) {
    if (ServerProgramRunning()) {
      if (!program_ran) WriteLog("Quarno Server가 실행 중이어서 UPnP 포트 포워드 점검을 멈춥니다.");
      program_ran = true;
    } else {
      if (program_ran) {
        program_ran = false;
        const std::optional<ServedMappings> served = healer.Served();
        if (served && StillServed(system.settings, *served)) {
          healer.Serve(*served);
          WriteLog("UPnP 포트 포워드 점검을 다시 시작합니다.");
        } else if (served) {
          healer.Stop();
          WriteLog("Quarno Server에서 등록 정보가 바뀌어 UPnP 포트 포워드 점검을 끝냅니다.");
        }
      }
      healer.Tick();
    }
    if (stop.WaitFor(heal.poll)) break;
  }
}

int RunBootupService(const ShellOptions& options) {
  SetLogFileName(kBootupLogName);
  if (!StartedBySupervisor()) {
    std::fprintf(stderr,
                 "quarno-bootup-service: started from a terminal, nothing to do (a service "
                 "manager runs the boot work; QUARNO_SUPERVISED=1 forces it)\n");
    return 0;
  }

  // Before any thread exists, so the worker never takes a stop signal.
  platform::daemon::BlockStopSignals();
  platform::daemon::NotifySupervisor("STATUS=starting");

  std::unique_ptr<BootWorld> system = options.make_system ? options.make_system() : nullptr;
  if (!system) {
    std::fprintf(stderr, "quarno-bootup-service: no boot system\n");
    return 1;
  }
  // Shared with the worker, which is never joined: it may outlive this frame
  // until the process ends.
  auto done = std::make_shared<std::atomic<bool>>(false);
  auto stop = std::make_shared<HealerStop>();
  std::thread([system = std::shared_ptr<BootWorld>(std::move(system)), launcher = options.launcher,
               done, stop] {
    // The service stays up after its boot work: while the servers serve, it
    // keeps their mappings on the router.
    const int result = RunBootWork(system->System(), launcher, [&](CServerLauncher& started) {
      platform::daemon::NotifySupervisor("STATUS=boot work ended, result 0; serving");
      PortMapper* own = system->HealMapper();
      const BootSystem boot = system->System();
      HealWhileServing(boot, own ? *own : boot.mapper, started, launcher, *stop);
    });
    platform::daemon::NotifySupervisor("STATUS=boot work ended, result " + std::to_string(result));
    done->store(true);
  }).detach();
  platform::daemon::NotifySupervisor("READY=1");

  platform::daemon::WaitForStopRequest();
  WriteLog("서비스 종료 신호가 들어왔습니다.");
  platform::daemon::NotifySupervisor("STOPPING=1");
  stop->Request();
  // A boot sequence or a check of the mappings still under way is cut off
  // with the process.
  if (!done->load()) platform::daemon::ExitNow(0);
  return 0;
}

}  // namespace quarno
