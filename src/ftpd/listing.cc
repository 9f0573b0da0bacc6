#include "ftpd/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string_view>

#include "ftpd/account.h"
#include "ftpd/vfs.h"

namespace quarno::ftpd {
namespace {

void FromStat(const struct stat& st, DirItem& item) {
  item.is_dir = S_ISDIR(st.st_mode);
  item.size = item.is_dir ? 0 : static_cast<uint64_t>(st.st_size);
  item.mtime = st.st_mtime;
}

}  // namespace

DirectoryReader::~DirectoryReader() {
  if (dir_ != nullptr) ::closedir(dir_);
}

bool DirectoryReader::Open(const std::string& real_dir) {
  int fd = OpenResolved(real_dir, O_RDONLY | O_DIRECTORY, false);
  if (fd < 0) return false;
  dir_ = ::fdopendir(fd);
  if (dir_ == nullptr) {
    ::close(fd);
    return false;
  }
  return true;
}

bool DirectoryReader::Next(DirItem& item) {
  if (dir_ == nullptr) return false;
  while (struct dirent* e = ::readdir(dir_)) {
    std::string_view name = e->d_name;
    if (name == "." || name == ".." || name.find_first_of("\r\n") != std::string_view::npos)
      continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir_), e->d_name, &st, 0) != 0) continue;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
    struct stat lst {};
    item.is_link =
        ::fstatat(::dirfd(dir_), e->d_name, &lst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(lst.st_mode);
    item.name = name;
    FromStat(st, item);
    return true;
  }
  return false;
}

bool ReadDirectory(const std::string& real_dir, std::vector<DirItem>& items) {
  DirectoryReader reader;
  if (!reader.Open(real_dir)) return false;
  items.clear();
  DirItem item;
  while (reader.Next(item)) items.push_back(item);
  return true;
}

bool StatItem(const std::string& real_path, DirItem& item) {
  struct stat st {};
  if (::stat(real_path.c_str(), &st) != 0) return false;
  FromStat(st, item);
  return true;
}

std::string ListPrefix(const DirItem& item, int64_t now) {
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t t = static_cast<time_t>(item.mtime);
  struct tm tm {};
  gmtime_r(&t, &tm);
  char when[32];
  bool recent = item.mtime <= now + 86400 && now - item.mtime < 180LL * 86400;
  if (recent)
    std::snprintf(when, sizeof when, "%s %02d %02d:%02d", kMonths[tm.tm_mon], tm.tm_mday,
                  tm.tm_hour, tm.tm_min);
  else
    std::snprintf(when, sizeof when, "%s %02d  %04d", kMonths[tm.tm_mon], tm.tm_mday,
                  tm.tm_year + 1900);
  char line[128];
  std::snprintf(line, sizeof line, "%s 1 ftp ftp %15llu %s ",
                item.is_dir ? "drwxr-xr-x" : "-rw-r--r--",
                static_cast<unsigned long long>(item.size), when);
  return line;
}

std::string TimeVal(int64_t mtime) {
  time_t t = static_cast<time_t>(mtime);
  struct tm tm {};
  gmtime_r(&t, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string MlsxFacts(const DirItem& item, uint16_t rights) {
  std::string perm;
  if (item.is_dir) {
    if (rights & kDirList) perm += "el";
    if (rights & kFileWrite) perm += 'c';
    if (rights & kDirCreate) perm += 'm';
    if (rights & kDirDelete) perm += "dfp";
  } else {
    if (rights & kFileRead) perm += 'r';
    if (rights & kFileWrite) perm += 'w';
    if (rights & kFileAppend) perm += 'a';
    if (rights & kFileDelete) perm += "df";
  }
  std::string out = item.is_dir ? "type=dir;" : "type=file;size=" + std::to_string(item.size) + ";";
  out += "modify=" + TimeVal(item.mtime) + ";perm=" + perm + "; ";
  return out;
}

}  // namespace quarno::ftpd
