#include "platform/key_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"

namespace quarno::platform {
namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

void (*g_step_hook)(int) = nullptr;

void Step(int step) {
  if (g_step_hook) g_step_hook(step);
}

// Key "a\b\c" becomes folders a/b and file c.conf; no segment may climb out.
bool KeySegments(std::string_view key, std::vector<std::string>& out) {
  out.clear();
  std::string current;
  for (char c : key) {
    if (c == '\\' || c == '/') {
      out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  out.push_back(current);
  for (const auto& s : out) {
    if (s.empty() || s == "." || s == "..") return false;
  }
  return true;
}

bool ValidName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c == '=' || c == '\n' || c == '\r' || c == '\0') return false;
  }
  return name.front() != '#' && name.front() != ' ' && name.front() != '\t';
}

std::string Escape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '0':
        out += '\0';
        break;
      default:
        return false;
    }
  }
  return true;
}

void SetValue(Values& values, std::string_view name, std::string_view value) {
  for (auto& [n, v] : values) {
    if (n == name) {
      v = value;
      return;
    }
  }
  values.emplace_back(name, value);
}

// Holds the key's lock file for the duration of a read-modify-write. The data
// file itself is replaced by rename, so it cannot carry the lock.
class KeyLock {
 public:
  explicit KeyLock(const std::string& file) {
    fd_ = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~KeyLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

FileKeyStore::FileKeyStore(std::string root) : root_(std::move(root)) {}

void FileKeyStore::SetStepHookForTesting(void (*hook)(int)) { g_step_hook = hook; }

std::string FileKeyStore::FileFor(std::string_view key) const {
  std::vector<std::string> segments;
  if (!KeySegments(key, segments)) return {};
  std::string path = root_;
  for (const auto& s : segments) path += "/" + s;
  return path + ".conf";
}

std::string FileKeyStore::Serialize(const Values& values) {
  std::string text =
      "# Quarno settings: one name=value per line; \\n, \\r, \\\\ and \\0 are escaped.\n";
  for (const auto& [name, value] : values) {
    if (!ValidName(name)) continue;
    text += name;
    text += '=';
    text += Escape(value);
    text += '\n';
  }
  return text;
}

Values FileKeyStore::Parse(std::string_view text) {
  Values values;
  while (!text.empty()) {
    auto end = text.find('\n');
    if (end == std::string_view::npos) break;  // cut off: the line is not trusted
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // edited on Windows
    if (line.empty() || line.front() == '#') continue;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view name = line.substr(0, eq);
    if (!ValidName(name)) continue;
    std::string value;
    if (!Unescape(line.substr(eq + 1), value)) continue;
    SetValue(values, name, value);
  }
  return values;
}

bool FileKeyStore::Read(std::string_view key, std::string_view name, std::string& value) {
  std::string file = FileFor(key);
  std::string text;
  if (file.empty() || !ReadFile(file, text)) return false;
  for (auto& [n, v] : Parse(text)) {
    if (n == name) {
      value = std::move(v);
      return true;
    }
  }
  return false;
}

bool FileKeyStore::Write(std::string_view key, const Values& values) {
  for (const auto& entry : values) {
    if (!ValidName(entry.first)) return false;
  }
  std::string file = FileFor(key);
  if (file.empty() || !MakeDirs(file.substr(0, file.find_last_of('/')), 0700)) return false;
  KeyLock lock(file);
  if (!lock.ok()) return false;
  std::string text;
  Values current;
  if (ReadFile(file, text)) current = Parse(text);
  for (const auto& [name, value] : values) SetValue(current, name, value);
  return ReplaceFile(file, Serialize(current), 0600, &Step);
}

bool FileKeyStore::Remove(std::string_view key, std::string_view name) {
  std::string file = FileFor(key);
  if (file.empty()) return false;
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) return errno == ENOENT;
  KeyLock lock(file);
  if (!lock.ok()) return false;
  std::string text;
  if (!ReadFile(file, text)) return false;
  Values current = Parse(text);
  Values kept;
  for (auto& entry : current) {
    if (entry.first != name) kept.push_back(std::move(entry));
  }
  if (kept.size() == current.size()) return true;
  return ReplaceFile(file, Serialize(kept), 0600, &Step);
}

}  // namespace quarno::platform
