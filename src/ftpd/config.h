#pragma once
// The configuration file "FileZilla Server.xml": the short form with only the
// admin port, and the full form with users, permissions and server settings.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ftpd/account.h"
#include "ftpd/options.h"

namespace quarno::ftpd {

inline constexpr char kConfigFileName[] = "FileZilla Server.xml";

struct ServerConfig {
  ServerConfig();  // the defaults a file without <Settings> items runs with
  GeneralOptions options;
  std::vector<Account> users;
  // The file names an admin port. The admin port belongs to this machine, not
  // to the FTP service: a file without one (the boot service's "port closed"
  // file) leaves the open admin port as it is.
  bool admin_port_given = false;
};

// Parses the file text into `out`. On failure `out` is untouched and `why`
// says what was wrong. Writers put user names and folders into the file
// without XML escaping, so a bare '&' or a '"' inside a user name or folder is
// taken as that character rather than rejecting the file.
bool ParseConfigText(std::string_view text, ServerConfig& out, std::string& why);
bool LoadConfigFile(const std::string& path, ServerConfig& out, std::string& why);

// "21 2121": ports 1..65535 separated by blanks (commas tolerated). Duplicates
// are dropped. An empty list and a lone "0" both mean no FTP port (the boot
// service closes the port that way). False on anything else.
bool ParsePortList(std::string_view text, std::vector<uint16_t>& ports);

}  // namespace quarno::ftpd
