#pragma once
// Small helpers many fixtures need: whole-file reads and writes, the log
// file's text, and a loopback port that was free a moment ago.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "core/log.h"

namespace quarno::test {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// The current log file of this process (LogFilePath()).
inline std::string ReadLog() { return ReadFile(LogFilePath()); }

// A port the kernel handed out on 127.0.0.1 and that was closed again: free
// unless another program takes it in between.
inline int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// A port P with P + 1 free too, both on every address (a range of two).
inline int FreeLoopbackPortPair() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int low = FreeLoopbackPort();
    if (low >= 65535) continue;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(low + 1));
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (free) return low;
  }
  return FreeLoopbackPort();
}

}  // namespace quarno::test
