#pragma once
// The account model the daemon serves: users with directory permissions, as
// they arrive in the configuration file or in the admin account message.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarno::ftpd {

enum Right : uint16_t {
  kDirCreate = 0x0001,
  kDirDelete = 0x0002,
  kDirList = 0x0004,
  kDirSubdirs = 0x0008,
  kFileAppend = 0x0010,
  kFileDelete = 0x0020,
  kFileRead = 0x0040,
  kFileWrite = 0x0080,
  kIsHome = 0x0100,
  kAutoCreate = 0x0200,
};

struct DirectoryPermission {
  std::string directory;
  std::vector<std::string> aliases;
  uint16_t rights = 0;
};

struct Account {
  std::string group_name;
  std::string user_name;
  std::string password;  // lower-case hex MD5, or empty for an empty password
  std::vector<DirectoryPermission> permissions;
  uint8_t bypass_user_limit = 0;
  uint8_t enabled = 1;  // 1 yes, anything else no (groups are not modelled)
  uint32_t user_limit = 0;
  uint32_t address_limit = 0;
  std::string comment;
  uint8_t tail_flag = 0;
};

// Lower-case hexadecimal MD5 of the bytes.
std::string Md5Hex(std::string_view bytes);

// Whether `password` (as the client sent it) matches the stored hash. An empty
// stored hash accepts only the empty password.
bool PasswordMatches(const Account& account, std::string_view password);

}  // namespace quarno::ftpd
