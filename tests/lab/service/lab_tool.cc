// quarno-lab-tool: what a person needs besides the lab script to watch the
// boot service in the lab (see lab/netns-lab.md). Run it inside the pc:
//   lab/netns-lab.sh exec pc quarno-lab-tool ftp-service
//   lab/netns-lab.sh exec pc quarno-lab-tool register NAME EMAIL FTP HTTP USER PASSWORD FOLDER
//   lab/netns-lab.sh exec pc quarno-lab-tool settings
#include <cstdio>
#include <cstring>
#include <string>

#include "core/settings.h"
#include "ftpctl/ftp_server.h"
#include "platform/service_manager.h"

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
  if (command == "register" && argc == 9) {
    const bool ok = WriteRegistration(argv[2], argv[3], argv[4], argv[5]) &&
                    WriteAccount(argv[6], argv[7], argv[8], "UTF-8");
    return ok ? 0 : 1;
  }
  if (command == "settings") {
    for (const char* name : {setting::kQuarno, setting::kEmail, setting::kFtpPort,
                             setting::kHttpPort, setting::kFtpUser, setting::kFtpSharedFolder,
                             setting::kAdminPort, setting::kBootHttp, setting::kMac}) {
      std::string value = "(none)";
      ReadSetting(name, value);
      std::printf("%-17s %s\n", name, value.c_str());
    }
    return 0;
  }
  std::fprintf(stderr,
               "usage: quarno-lab-tool ftp-service | settings |\n"
               "       register NAME EMAIL FTP_PORT HTTP_PORT USER PASSWORD FOLDER\n");
  return 2;
}
