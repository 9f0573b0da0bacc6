#pragma once
// A name held by one process and released when that process ends, however it
// ends: an flock'd file RuntimeFolder()/<name>.lock, so the name is per user
// session and tests that relocate XDG_RUNTIME_DIR never collide.
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
  // Like Exists, but tells "nobody holds it" from "cannot tell" (the lock
  // file cannot be opened or locked); `error` is then the errno, else 0.
  enum class Holder { kNobody, kSomeone, kUnknown };
  static Holder Probe(const std::string& name, int& error);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

 private:
  explicit NamedMutex(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace quarno::platform
