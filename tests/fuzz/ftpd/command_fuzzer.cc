// FTP command lines and the path and address arguments they carry.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftpd/command.h"
#include "ftpd/vfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  quarno::ftpd::Command cmd;
  if (quarno::ftpd::ParseCommandLine(line, cmd) != quarno::ftpd::ParseResult::kOk) return 0;
  if (cmd.verb.size() < 3 || cmd.verb.size() > 4) std::abort();
  std::array<uint8_t, 4> ip{};
  uint16_t port = 0;
  quarno::ftpd::ParsePortArgument(cmd.arg, ip, port);
  int family = 0;
  std::string address;
  if (quarno::ftpd::ParseEprtArgument(cmd.arg, family, address, port) && (port == 0 || family < 1 || family > 2))
    std::abort();
  std::string path;
  if (quarno::ftpd::NormalizeVirtualPath("/a/b", cmd.arg, path) == quarno::ftpd::PathError::kNone) {
    // A normalized path never climbs and never holds empty, "." or ".." parts.
    if (path.empty() || path[0] != '/' || path.find("//") != std::string::npos ||
        path.find("/../") != std::string::npos || path.find("/./") != std::string::npos ||
        (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0) || path.size() > quarno::ftpd::kMaxPathBytes)
      std::abort();
  }
  return 0;
}
