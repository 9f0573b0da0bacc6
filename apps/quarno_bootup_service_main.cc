// quarno-bootup-service: restores the disk server's reachability at boot.
// See src/service/service_shell.h for how it tells a supervised start from a
// start by hand, and packaging/systemd/ for its unit.
//
// "--start-services" is the boot of the built-in supervisor, run by the
// user's crontab where no systemd user manager starts enabled units: it
// starts the services set to automatic, the FTP server's first (the boot-up
// service waits for it), and ends.
#include <cstring>

#include "ftpctl/ftp_server.h"
#include "platform/service_manager.h"
#include "service/boot_system.h"
#include "service/service_shell.h"

namespace {

int StartAutomaticServices() {
  auto services = quarno::platform::MakeBuiltinServiceManager();
  int failed = 0;
  for (const char* name : {quarno::ftpctl::kFtpServiceName, quarno::kBootupServiceName}) {
    quarno::platform::ServiceConfig config;
    if (!services->QueryConfig(name, config) ||
        config.start_type != quarno::platform::StartType::kAutomatic)
      continue;
    bool running = false;
    if (!services->Start(name, &running) && !running) ++failed;
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--start-services") == 0) return StartAutomaticServices();
  quarno::ShellOptions options;
  options.make_system = [&options] { return quarno::MakeBootSystem(options.system); };
  return quarno::RunBootupService(options);
}
