#include "ftpd/vfs.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace quarno::ftpd {
namespace {

bool RealPath(const std::string& path, std::string& out, int* error = nullptr) {
  char* r = ::realpath(path.c_str(), nullptr);
  if (r == nullptr) {
    if (error) *error = errno;
    return false;
  }
  out = r;
  std::free(r);
  return true;
}

bool Inside(const std::string& path, const std::string& dir) {
  if (path == dir) return true;
  if (dir == "/") return true;
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         path[dir.size()] == '/';
}

std::string Parent(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == 0 || slash == std::string::npos) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::string PathNode::Name() const {
  size_t slash = virtual_path.rfind('/');
  return virtual_path.substr(slash + 1);
}

PathError NormalizeVirtualPath(std::string_view cwd, std::string_view arg, std::string& out) {
  if (arg.size() > kMaxPathBytes) return PathError::kBadName;
  if (arg.find('\0') != std::string_view::npos) return PathError::kBadName;
  std::vector<std::string_view> parts;
  auto push = [&parts](std::string_view path) -> PathError {
    size_t pos = 0;
    while (pos <= path.size()) {
      size_t slash = path.find('/', pos);
      std::string_view part =
          path.substr(pos, slash == std::string_view::npos ? std::string_view::npos : slash - pos);
      if (part.size() > kMaxNameBytes) return PathError::kBadName;
      if (part == "..") {
        if (parts.empty()) return PathError::kOutside;
        parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      if (slash == std::string_view::npos) break;
      pos = slash + 1;
    }
    return PathError::kNone;
  };
  if (arg.empty() || arg[0] != '/') {
    if (PathError e = push(cwd); e != PathError::kNone) return e;
  }
  if (PathError e = push(arg); e != PathError::kNone) return e;
  std::string result;
  for (auto part : parts) {
    result += '/';
    result.append(part);
  }
  if (result.empty()) result = "/";
  if (result.size() > kMaxPathBytes) return PathError::kBadName;
  out = std::move(result);
  return PathError::kNone;
}

int OpenResolved(const std::string& real, int flags, bool regular_only, unsigned mode) {
  flags |= O_NOFOLLOW | O_CLOEXEC;
  if (regular_only) flags |= O_NONBLOCK;
  struct open_how how {};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & O_CREAT) ? mode : 0;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  int fd = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, real.c_str(), &how, sizeof how));
  // Kernels before 5.6: only the last component is guarded.
  if (fd < 0 && errno == ENOSYS) fd = ::open(real.c_str(), flags, static_cast<mode_t>(mode));
  if (fd < 0 || !regular_only) return fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

std::string NormalizeHostPath(std::string_view path) {
  if (path.empty() || path[0] != '/') return {};
  std::string out;
  if (NormalizeVirtualPath("/", path, out) != PathError::kNone) return {};
  return out;
}

bool VirtualTree::Init(const Account& account, std::string* why) {
  entries_.clear();
  home_.clear();
  std::string first;
  for (const auto& p : account.permissions) {
    std::string dir = NormalizeHostPath(p.directory);
    if (dir.empty()) continue;  // relative or unusable: grants nothing
    entries_.push_back({dir, p.rights});
    if (first.empty()) first = dir;
    if ((p.rights & kIsHome) && home_.empty()) home_ = dir;
  }
  if (home_.empty()) home_ = first;
  if (home_.empty()) {
    if (why) *why = "account has no home directory";
    return false;
  }
  struct stat st {};
  if (::stat(home_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (why) *why = "home directory " + home_ + " does not exist";
    return false;
  }
  return true;
}

const VirtualTree::Entry* VirtualTree::Longest(const std::string& logical) const {
  const Entry* best = nullptr;
  for (const auto& e : entries_)
    if (Inside(logical, e.dir) && (best == nullptr || e.dir.size() > best->dir.size())) best = &e;
  return best;
}

uint16_t VirtualTree::DirRights(const std::string& logical) const {
  const Entry* e = Longest(logical);
  if (e == nullptr) return 0;
  if (logical == e->dir || (e->rights & kDirSubdirs)) return e->rights;
  return 0;
}

PathError VirtualTree::Resolve(std::string_view cwd, std::string_view arg, PathNode& node) const {
  std::string virt;
  if (PathError e = NormalizeVirtualPath(cwd, arg, virt); e != PathError::kNone) return e;
  std::string logical = virt == "/" ? home_ : home_ + virt;
  if (logical.size() > PATH_MAX - 1) return PathError::kBadName;
  const Entry* entry = Longest(logical);
  if (entry == nullptr) return PathError::kOutside;
  std::string entry_real;
  if (!RealPath(entry->dir, entry_real)) return PathError::kNotFound;

  PathNode n;
  n.virtual_path = virt;
  n.rights = DirRights(logical);
  n.is_permission_root = false;
  for (const auto& e : entries_)
    if (e.dir == logical) n.is_permission_root = true;

  int error = 0;
  if (RealPath(logical, n.real, &error)) {
    if (!Inside(n.real, entry_real)) return PathError::kOutside;
    struct stat st {};
    if (::stat(n.real.c_str(), &st) != 0) return PathError::kNotFound;
    n.exists = true;
    n.is_dir = S_ISDIR(st.st_mode);
  } else if (error != ENOENT) {
    return error == ENOTDIR ? PathError::kNotFound : PathError::kOutside;
  }

  if (virt == "/") {
    n.entry = n.real;
  } else {
    std::string parent_logical = Parent(logical);
    const Entry* parent_entry = Longest(parent_logical);
    std::string parent_entry_real, parent_real;
    if (parent_entry == nullptr || !RealPath(parent_entry->dir, parent_entry_real))
      return PathError::kNotFound;
    if (!RealPath(parent_logical, parent_real)) return PathError::kNotFound;
    if (!Inside(parent_real, parent_entry_real)) return PathError::kOutside;
    n.entry = (parent_real == "/" ? std::string() : parent_real) + "/" + n.Name();
    n.parent_rights = DirRights(parent_logical);
    if (!n.exists) {
      // Missing (or a dangling link): it would be created right here.
      if (!Inside(parent_real, entry_real)) return PathError::kOutside;
      n.real = n.entry;
    }
  }
  node = std::move(n);
  return PathError::kNone;
}

}  // namespace quarno::ftpd
