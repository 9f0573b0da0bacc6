// quarno-ftpd: the FTP server daemon. Runs in the foreground, whether started
// from a terminal, a test or a supervisor; SIGTERM ends it cleanly.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/log.h"
#include "core/settings.h"
#include "ftpd/config.h"
#include "ftpd/server.h"
#include "ftpd/stored_settings.h"
#include "platform/paths.h"
#include "platform/service_manager.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::puts(
          "usage: quarno-ftpd\n"
          "Reads \"FileZilla Server.xml\" from the writable program folder and serves FTP.\n"
          "QUARNO_FTPD_LISTEN=<address> limits the FTP ports to one local address.");
      return 0;
    }
  }
  quarno::SetLogFileName(quarno::kFtpdLogName);
  namespace platform = quarno::platform;
  platform::MakeDirs(platform::RuntimeFolder());

  quarno::ftpd::ServerOptions options;
  options.config_path = platform::WritableFolder() + "/" + quarno::ftpd::kConfigFileName;
  options.control_socket = platform::ControlSocketPath("Quarno_Server");
  options.home_folder = platform::HomeFolder();
  if (const char* listen = std::getenv("QUARNO_FTPD_LISTEN")) options.listen_address = listen;
  options.http_port = [](std::string& port) {
    return quarno::ReadSetting(quarno::setting::kBootHttp, port);
  };
  // The daemon reads the programs' settings only here; the server gets them as providers.
  options.ftp_charset = quarno::ftpd::StoredFtpCharset();
  options.router_mac = quarno::ftpd::StoredRouterMac();

  quarno::ftpd::Server server(std::move(options));
  std::string why;
  if (!server.Start(why)) {
    quarno::WriteLog("quarno-ftpd not started: %s", why.c_str());
    std::fprintf(stderr, "quarno-ftpd: %s\n", why.c_str());
    return 1;
  }
  quarno::WriteLog("quarno-ftpd started (admin port %u)", server.admin_port());
  server.Run();
  quarno::WriteLog("quarno-ftpd stopped");
  return 0;
}
