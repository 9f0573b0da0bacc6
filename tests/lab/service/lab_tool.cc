// quarno-lab-tool: what a person needs besides the lab script to watch the
// boot service in the lab (see lab/netns-lab.md). Run it inside the pc:
//   lab/netns-lab.sh exec pc quarno-lab-tool ftp-service
//   lab/netns-lab.sh exec pc quarno-lab-tool register NAME EMAIL FTP HTTP USER PASSWORD FOLDER
//   lab/netns-lab.sh exec pc quarno-lab-tool settings
//   lab/netns-lab.sh exec pc quarno-lab-tool start-services
// scripts/run.sh uses it the same way.
#include <cstdio>
#include <cstring>
#include <string>

// First: its class SettingsStore must be declared before settings.h's
// function of the same name hides it.
#include "service/service_shell.h"

#include "core/settings.h"
#include "ftpctl/ftp_server.h"
#include "platform/service_manager.h"
#include "share/home_tree.h"

int main(int argc, char** argv) {
  using namespace quarno;
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "ftp-service") {
    // The FTP server service under this environment's supervisor, running.
    auto services = platform::MakeServiceManager();
    const std::string ftpd = std::string(QUARNO_BINARY_DIR) + "/apps/quarno-ftpd";
    if (!ftpctl::StartFtpService(*services, ftpd, std::chrono::seconds(10))) {
      std::fprintf(stderr, "quarno-lab-tool: the FTP server service did not start\n");
      return 1;
    }
    std::puts("Quarno_Server running");
    return 0;
  }
  if (command == "start-services") {
    // What a supervisor does at boot with the auto-start option on: both
    // services automatic, the FTP server first (the boot-up service waits for
    // it), then the boot-up service, which starts its boot work detached.
    auto services = platform::MakeServiceManager();
    const std::string apps = std::string(QUARNO_BINARY_DIR) + "/apps/";
    if (!ftpctl::StartFtpService(*services, apps + "quarno-ftpd", std::chrono::seconds(10))) {
      std::fprintf(stderr, "quarno-lab-tool: the FTP server service did not start\n");
      return 1;
    }
    platform::ServiceConfig boot = BootupServiceConfig(platform::StartType::kAutomatic);
    boot.executable = apps + "quarno-bootup-service";
    const bool recorded =
        services->Exists(boot.name) ? services->ChangeConfig(boot) : services->Create(boot);
    bool already_running = false;
    if (!recorded || (!services->Start(boot.name, &already_running) && !already_running)) {
      std::fprintf(stderr, "quarno-lab-tool: the boot-up service did not start\n");
      return 1;
    }
    std::puts("Quarno_Server running\nQuarno_Bootup_Service running");
    return 0;
  }
  if (command == "register" && argc == 9) {
    const bool ok = WriteRegistration(argv[2], argv[3], argv[4], argv[5]) &&
                    WriteAccount(argv[6], argv[7], argv[8], "UTF-8");
    return ok ? 0 : 1;
  }
  if (command == "settings") {
    for (const char* name :
         {setting::kQuarno, setting::kEmail, setting::kFtpPort, setting::kHttpPort,
          setting::kFtpUser, setting::kFtpPassword, setting::kFtpSharedFolder, setting::kAdminPort,
          setting::kBootHttp, setting::kMac}) {
      std::string value = "(none)";
      ReadSetting(name, value);
      std::printf("%-17s %s\n", name, value.c_str());
    }
    // The folder name under which FTP and HTTP serve the share.
    std::string folder;
    if (ReadSetting(setting::kFtpSharedFolder, folder) && !share::LinkName(folder).empty()) {
      std::printf("%-17s %s\n", "share_link", share::LinkName(folder).c_str());
    }
    return 0;
  }
  std::fprintf(stderr,
               "usage: quarno-lab-tool ftp-service | start-services | settings |\n"
               "       register NAME EMAIL FTP_PORT HTTP_PORT USER PASSWORD FOLDER\n");
  return 2;
}
