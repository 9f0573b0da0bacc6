#pragma once
// The FTP server configuration as the boot-up service's launcher uses it.
#include <string>

#include "ftpctl/ftp_server.h"

namespace quarno {

struct BootFtpConfig {
  std::string user;
  std::string password;
  std::string shared_folder;
  std::string charset;  // kept with the account; the file does not carry it
  platform::MacAddress router_mac{};
  int ftp_port = 21;
};

// The port-closed configuration file; false when it cannot be written.
inline bool WriteFtpPortClosedConfig() { return ftpctl::WriteFtpPortClosedConfig(); }

// Home folder, share link and the full configuration file. Returns the new
// admin port, 0 when the home folder or the file could not be made.
inline int WriteFtpServerConfig(const BootFtpConfig& config) {
  ftpctl::FtpAccountValues account;
  account.user = config.user;
  account.password = config.password;
  account.shared_folder = config.shared_folder;
  account.ftp_port = config.ftp_port;
  account.router_mac = config.router_mac;
  uint16_t admin_port = 0;
  if (!ftpctl::WriteFtpServerConfig(account, admin_port)) return 0;
  return admin_port;
}

}  // namespace quarno
