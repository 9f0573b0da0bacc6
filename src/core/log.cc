#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/paths.h"

namespace quarno {
namespace {

std::mutex g_mutex;
std::FILE* g_file = nullptr;
std::string g_file_name = kServerLogName;
std::string g_folder;  // empty: WritableFolder()/Logs
std::size_t g_written = 0;
std::size_t g_limit = kLogFileLimit;

std::string FolderLocked() {
  return g_folder.empty() ? platform::WritableFolder() + "/Logs" : g_folder;
}

void CloseLocked() {
  if (g_file) std::fclose(g_file);
  g_file = nullptr;
}

// Length of `text` without a multi-byte character that the cut at `length`
// left incomplete, so a cut-off Korean message stays valid UTF-8.
size_t Utf8Cut(const char* text, size_t length) {
  size_t start = length;
  while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return length;
  unsigned char lead = static_cast<unsigned char>(text[start - 1]);
  size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return (length - (start - 1) < need) ? start - 1 : length;
}

// Private to the user whatever the umask, and whatever an older version
// left behind (a 0755 folder, a 0644 file).
std::FILE* OpenPrivate(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  ::fchmod(fd, 0600);
  std::FILE* file = ::fdopen(fd, "w");
  if (!file) ::close(fd);
  return file;
}

bool OpenLocked() {
  const std::string folder = FolderLocked();
  if (!platform::MakeDirs(folder, 0700)) return false;
  ::chmod(folder.c_str(), 0700);
  g_file = OpenPrivate(folder + "/" + g_file_name);
  g_written = 0;
  return g_file != nullptr;
}

// Called between lines: the full file moves to ".1" and a new one starts.
void RotateLocked() {
  CloseLocked();
  const std::string base = FolderLocked() + "/" + g_file_name;
  for (int i = kLogFilesKept - 1; i >= 1; --i) {
    const std::string from = i == 1 ? base : base + "." + std::to_string(i - 1);
    std::rename(from.c_str(), (base + "." + std::to_string(i)).c_str());
  }
  OpenLocked();
}

}  // namespace

void SetLogFileLimitForTesting(std::size_t bytes) {
  std::lock_guard lock(g_mutex);
  g_limit = bytes ? bytes : kLogFileLimit;
}

void SetLogFileName(const std::string& file_name) {
  std::lock_guard lock(g_mutex);
  if (file_name == g_file_name) return;
  g_file_name = file_name;
  CloseLocked();
}

void SetLogFolder(const std::string& folder) {
  std::lock_guard lock(g_mutex);
  g_folder = folder;
  CloseLocked();
}

std::string LogFilePath() {
  std::lock_guard lock(g_mutex);
  return FolderLocked() + "/" + g_file_name;
}

void WriteLog(const char* format, ...) {
  char message[512] = {};
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) >= sizeof message)
    message[Utf8Cut(message, sizeof message - 1)] = '\0';

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char line[1024] = {};
  std::snprintf(line, sizeof line, "[%04d-%02d-%02d %02d:%02d:%02d] %s\n", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                message);

  std::lock_guard lock(g_mutex);
  // A run starts with an empty log.
  if (!g_file && !OpenLocked()) return;
  const std::size_t length = std::strlen(line);
  if (g_written > 0 && g_written + length > g_limit) {
    RotateLocked();
    if (!g_file) return;
  }
  std::fputs(line, g_file);
  std::fflush(g_file);
  g_written += length;
}

void ResetLogForTesting() {
  std::lock_guard lock(g_mutex);
  CloseLocked();
}

}  // namespace quarno
