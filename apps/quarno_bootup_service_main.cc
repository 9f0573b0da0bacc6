// quarno-bootup-service: restores the disk server's reachability at boot.
// See src/service/service_shell.h for how it tells a supervised start from a
// start by hand, and packaging/systemd/ for its unit.
#include "service/boot_system.h"
#include "service/service_shell.h"

int main() {
  quarno::ShellOptions options;
  options.make_system = [&options] { return quarno::MakeBootSystem(options.system); };
  return quarno::RunBootupService(options);
}
