#include "platform/install_secret.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/paths.h"

namespace quarno::platform {
namespace {
constexpr std::size_t kSecretSize = 32;
}

bool RandomBytes(void* out, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::getrandom(bytes + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<std::string> LoadOrCreateSecret(const std::string& path) {
  std::string stored;
  if (ReadFile(path, stored)) {
    if (stored.size() >= kSecretSize) return stored;
    return std::nullopt;  // cut short or tampered with: no link rather than a weak one
  }
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash));
  std::string fresh(kSecretSize, '\0');
  if (!RandomBytes(fresh.data(), fresh.size())) return std::nullopt;
  // Written complete under a private name, then linked in place: link() fails
  // when another process got there first, and its secret is the one to keep.
  const std::string temp = path + ".new." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return std::nullopt;
  const bool written = ::write(fd, fresh.data(), fresh.size()) ==
                           static_cast<ssize_t>(fresh.size()) &&
                       ::fsync(fd) == 0;
  ::close(fd);
  const bool linked = written && ::link(temp.c_str(), path.c_str()) == 0;
  ::unlink(temp.c_str());
  if (linked) return fresh;
  if (ReadFile(path, stored) && stored.size() >= kSecretSize) return stored;
  return std::nullopt;
}

std::string ShareLinkSecretPath() { return StateFolder() + "/share_link.key"; }

}  // namespace quarno::platform
