#pragma once
// A system-wide name held by one process and released when that process ends,
// however it ends (abstract Unix socket bound to the name).
#include <memory>
#include <string>

namespace quarno::platform {

class NamedMutex {
 public:
  enum class Result { kAcquired, kAlreadyExists, kFailed };
  // Tries to create the name. On kAcquired `out` holds it until destroyed.
  static Result Create(const std::string& name, std::unique_ptr<NamedMutex>& out);
  // Whether some process holds the name now.
  static bool Exists(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

 private:
  explicit NamedMutex(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace quarno::platform
