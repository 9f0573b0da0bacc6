#pragma once
// Directory listings in the forms FTP clients parse: "ls -l" lines for LIST,
// RFC 3659 facts for MLSD/MLST.
#include <dirent.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quarno::ftpd {

struct DirItem {
  std::string name;  // UTF-8
  bool is_dir = false;
  uint64_t size = 0;
  int64_t mtime = 0;     // seconds since the epoch
  bool is_link = false;  // the entry itself is a symbolic link
};

// Entries of `real_dir` with links followed; entries that cannot be examined
// and names holding CR or LF (they would break the listing) are left out.
bool ReadDirectory(const std::string& real_dir, std::vector<DirItem>& items);

// The same entries one at a time, for folders too big to gather at once.
class DirectoryReader {
 public:
  DirectoryReader() = default;
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;
  ~DirectoryReader();
  bool Open(const std::string& real_dir);
  // The next entry; false at the end.
  bool Next(DirItem& item);

 private:
  DIR* dir_ = nullptr;
};
bool StatItem(const std::string& real_path, DirItem& item);

// "drwxr-xr-x 1 ftp ftp 0 Jan 01 12:00 " without the name and line end; the
// time form switches to the year for entries older than six months.
std::string ListPrefix(const DirItem& item, int64_t now);
// "type=file;size=12;modify=20240102030405;perm=rwadf; " without the name.
std::string MlsxFacts(const DirItem& item, uint16_t dir_rights);
// YYYYMMDDHHMMSS in UTC.
std::string TimeVal(int64_t mtime);

}  // namespace quarno::ftpd
