#pragma once
// RAII: points XDG_CONFIG_HOME, XDG_STATE_HOME, XDG_DATA_HOME, XDG_RUNTIME_DIR
// and QUARNO_WRITABLE_FOLDER at folders of a fresh temp dir and sets
// QUARNO_SUPERVISOR=builtin; restores the old environment and removes the
// tree on destruction. Use one per test (e.g. as a fixture member).
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quarno::test {

class TempXdg {
 public:
  TempXdg() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quarno-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) std::abort();
    root_ = buffer.data();
    Set("XDG_CONFIG_HOME", Make("config"));
    Set("XDG_STATE_HOME", Make("state"));
    Set("XDG_DATA_HOME", Make("data"));
    Set("XDG_RUNTIME_DIR", Make("runtime"));
    Set("QUARNO_WRITABLE_FOLDER", Make("program"));
    Set("QUARNO_SUPERVISOR", "builtin");
  }
  ~TempXdg() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);  // does not follow links
  }
  TempXdg(const TempXdg&) = delete;
  TempXdg& operator=(const TempXdg&) = delete;

  const std::string& root() const { return root_; }
  std::string config() const { return root_ + "/config"; }
  std::string state() const { return root_ + "/state"; }
  std::string data() const { return root_ + "/data"; }
  std::string runtime() const { return root_ + "/runtime"; }
  // What WritableFolder() returns while this object lives.
  std::string writable() const { return root_ + "/program"; }

 private:
  std::string Make(const char* name) {
    std::string path = root_ + "/" + name;
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value.c_str(), 1);
  }

  std::string root_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace quarno::test
