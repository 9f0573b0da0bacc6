#pragma once
// The tree one account sees. The virtual root is the home directory; every
// path is checked lexically (no ".." above the root) and then resolved with
// symlinks followed, and must stay inside the real directory of the
// permission entry that covers it. So a link inside the share may point
// elsewhere in the share, never outside it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ftpd/account.h"

namespace quarno::ftpd {

inline constexpr size_t kMaxPathBytes = 4096;
inline constexpr size_t kMaxNameBytes = 255;

enum class PathError { kNone, kBadName, kOutside, kNotFound };

// Joins `arg` to `cwd` (both UTF-8 virtual paths) and removes ".", ".." and
// empty components. ".." above the root is kOutside; NUL bytes, names over 255
// bytes and paths over 4096 bytes are kBadName.
PathError NormalizeVirtualPath(std::string_view cwd, std::string_view arg, std::string& out);

// Opens a host path that Resolve produced. Such a path holds no links, so a
// link met now was put there after the check (an upload waits for its data
// connection, long enough for another session to rename folders) and the
// open fails instead of following it. With `regular_only`, anything but a
// regular file fails too, and is never left blocking the loop (named pipes).
// -1 with errno on failure.
int OpenResolved(const std::string& real, int flags, bool regular_only, unsigned mode = 0644);

// Lexical clean-up of an absolute host path; empty when `path` is not absolute.
std::string NormalizeHostPath(std::string_view path);

struct PathNode {
  std::string virtual_path;  // "/", "/DISK_E/a.txt"
  std::string real;          // resolved path (final link followed); parent + name when missing
  std::string entry;         // resolved parent + "/" + name: the entry itself, link not followed
  bool exists = false;       // `real` exists
  bool is_dir = false;
  uint16_t rights = 0;              // rights of the path as a directory
  uint16_t parent_rights = 0;       // rights of the directory holding it (0 for the root)
  bool is_permission_root = false;  // the home or a permission's own directory
  std::string Name() const;
};

class VirtualTree {
 public:
  // False when the account has no usable home directory.
  bool Init(const Account& account, std::string* why = nullptr);
  const std::string& home() const { return home_; }
  PathError Resolve(std::string_view cwd, std::string_view arg, PathNode& node) const;
  // Rights of `logical` (a host path below the home) taken as a directory.
  uint16_t DirRights(const std::string& logical) const;

 private:
  struct Entry {
    std::string dir;  // normalized host path
    uint16_t rights;
  };
  const Entry* Longest(const std::string& logical) const;
  std::string home_;
  std::vector<Entry> entries_;
};

}  // namespace quarno::ftpd
