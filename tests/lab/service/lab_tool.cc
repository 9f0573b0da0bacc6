// quarno-lab-tool: what a person needs besides the lab script to watch the
// boot service in the lab (see lab/netns-lab.md). Run it inside the pc:
//   lab/netns-lab.sh exec pc quarno-lab-tool ftp-service
//   lab/netns-lab.sh exec pc quarno-lab-tool register NAME EMAIL FTP HTTP USER PASSWORD FOLDER
//   lab/netns-lab.sh exec pc quarno-lab-tool settings
//   lab/netns-lab.sh exec pc quarno-lab-tool start-services
//   lab/netns-lab.sh exec pc quarno-lab-tool share-link HOST [PORT]
//   lab/netns-lab.sh exec pc quarno-lab-tool serve-http PORT [ADDRESS]
// scripts/run.sh uses it the same way.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

// First: its class SettingsStore must be declared before settings.h's
// function of the same name hides it.
#include "service/service_shell.h"

#include "core/settings.h"
#include "ftpctl/ftp_server.h"
#include "httpd/http_server.h"
#include "platform/service_manager.h"
#include "share/home_tree.h"
#include "ui/real_capabilities.h"

namespace {

std::string Setting(const char* name) {
  std::string value;
  return quarno::ReadSetting(name, value) ? value : std::string();
}

bool PortText(const std::string& text) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int port = std::stoi(text);
  return port >= 1 && port <= 65535;
}

}  // namespace

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
  if (command == "share-link" && (argc == 3 || argc == 4)) {
    // The link the main window shows for the stored account, made by the
    // window's own HTTP serving; the port defaults to the stored HTTP port.
    const std::string port = argc == 4 ? argv[3] : Setting(setting::kHttpPort);
    const std::string share = share::LinkName(Setting(setting::kFtpSharedFolder));
    const std::string user = Setting(setting::kFtpUser);
    if (!PortText(port) || share.empty() || user.empty()) {
      std::fprintf(stderr, "quarno-lab-tool: no registration with an account and a share\n");
      return 1;
    }
    const std::string link = ui::MakeWindowHttpServing()->ShareLink(
        argv[2], port, user, Setting(setting::kFtpPassword), share);
    if (link.empty()) {
      std::fprintf(stderr, "quarno-lab-tool: the installation's secret cannot be had\n");
      return 1;
    }
    std::puts(link.c_str());
    return 0;
  }
  if (command == "serve-http" && (argc == 3 || argc == 4) && PortText(argv[2])) {
    // The desktop program's HTTP server without its window, until SIGTERM or
    // SIGINT, on every address or on ADDRESS only. It serves the home folder
    // as it is: the share's link there is whoever made it last (the boot-up
    // service in the lab), and stays.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    // Blocked before the server's threads start, so they inherit the mask
    // and only sigwait below takes the signal.
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    ui::WorldOptions world;
    if (argc == 4) world.http_listen_address = argv[3];
    auto http = ui::MakeWindowHttpServing(world);
    // As the window sets it from the stored charset at its start.
    std::optional<std::string> charset;
    if (std::string value; ReadSetting(setting::kFtpCharset, value)) charset = value;
    http->SetCharsetUtf8(httpd::FtpCharsetIsUtf8(charset));
    if (!http->Start(argv[2])) {
      std::fprintf(stderr, "quarno-lab-tool: the HTTP server did not start on port %s\n", argv[2]);
      return 1;
    }
    std::printf("serving HTTP on port %s\n", argv[2]);
    std::fflush(stdout);
    int signal_number = 0;
    sigwait(&stop, &signal_number);
    http->Stop();
    return 0;
  }
  std::fprintf(stderr,
               "usage: quarno-lab-tool ftp-service | start-services | settings |\n"
               "       register NAME EMAIL FTP_PORT HTTP_PORT USER PASSWORD FOLDER |\n"
               "       share-link HOST [PORT] | serve-http PORT [ADDRESS]\n");
  return 2;
}
