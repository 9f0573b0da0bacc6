#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"

namespace quarno::platform {
namespace {

std::string LockPath(const std::string& name) {
  // The name becomes a file name; keep it to one path segment.
  std::string safe;
  for (char c : name) safe += (c == '/' || c == '\0') ? '_' : c;
  return RuntimeFolder() + "/" + safe + ".lock";
}

int TryLock(const std::string& name, int operation, bool& busy) {
  busy = false;
  int fd = open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  while (flock(fd, operation | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    busy = errno == EWOULDBLOCK;
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace

NamedMutex::Result NamedMutex::Create(const std::string& name, std::unique_ptr<NamedMutex>& out) {
  bool busy = false;
  int fd = TryLock(name, LOCK_EX, busy);
  if (fd < 0) return busy ? Result::kAlreadyExists : Result::kFailed;
  out.reset(new NamedMutex(fd));
  return Result::kAcquired;
}

bool NamedMutex::Exists(const std::string& name) {
  bool busy = false;
  int fd = TryLock(name, LOCK_SH, busy);
  if (fd >= 0) close(fd);
  return busy;
}

NamedMutex::Holder NamedMutex::Probe(const std::string& name, int& error) {
  bool busy = false;
  errno = 0;
  int fd = TryLock(name, LOCK_SH, busy);
  error = 0;
  if (fd >= 0) {
    close(fd);
    return Holder::kNobody;
  }
  if (busy) return Holder::kSomeone;
  error = errno;
  return Holder::kUnknown;
}

NamedMutex::~NamedMutex() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace quarno::platform
