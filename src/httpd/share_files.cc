#include "httpd/share_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

namespace quarno::httpd {
namespace {

// O_NONBLOCK keeps open() from waiting on a FIFO put in the share; reads and
// sendfile of a regular file do not look at it, so it stays.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> parts;
  parts.reserve(16);
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool Usable(const struct stat& status) {
  return S_ISREG(status.st_mode) || S_ISDIR(status.st_mode);
}

std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool RealPath(const std::string& path, std::string& out) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return false;
  out = resolved;
  std::free(resolved);
  return true;
}

enum class Walk { kOpened, kMissing, kLink };

// Walks `parts` below `base` without following links. On kLink, `at` is the
// index of the segment that is one.
Walk WalkNoLinks(int base, const std::vector<std::string_view>& parts, std::size_t first,
                 ServedNode& node, std::size_t& at) {
  UniqueFd current;  // empty while still at `base`, which is not ours to close
  auto here = [&] { return current ? current.get() : base; };
  auto take_here = [&] { return current ? std::move(current) : UniqueFd(::dup(base)); };
  for (std::size_t i = first; i < parts.size(); ++i) {
    const std::string name(parts[i]);
    UniqueFd next(::openat(here(), name.c_str(), kOpenFlags | O_NOFOLLOW));
    if (!next) {
      const int error = errno;
      if (error == ELOOP) {
        at = i;
        node.folder = take_here();
        return Walk::kLink;
      }
      if (i + 1 == parts.size()) node.folder = take_here();
      return Walk::kMissing;
    }
    if (i + 1 == parts.size()) {
      node.folder = take_here();
      node.target = std::move(next);
      return Walk::kOpened;
    }
    current = std::move(next);
  }
  // No segment below the base: the base itself.
  node.folder = UniqueFd(::dup(here()));
  node.target = take_here();
  if (!node.target) return Walk::kMissing;
  return Walk::kOpened;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

int OpenHomeFolder(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

namespace {

// Only a place to resolve from: O_PATH skips what opening for reading costs.
UniqueFd OpenShare(int home_fd, std::string_view name) {
  return UniqueFd(::openat(home_fd, std::string(name).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// A share opened by name costs a walk through its link, and every request
// of every thread walks the same few entries: opened once a second per
// thread instead. The thread watches the home folder, so a share added,
// removed or pointed elsewhere is followed at once; a change beyond the link
// (the share moved, its disk gone) within the second. A share is let go a
// second or two after its opening, so its disk can be unmounted.
class ShareCache {
 public:
  // The share folder, opened O_PATH and borrowed from the cache; -1 when it
  // does not open.
  int Open(int home_fd, std::string_view name) {
    const auto now = std::chrono::steady_clock::now();
    if (home_fd != home_fd_) {
      entries_.clear();
      home_fd_ = home_fd;
    }
    for (Entry& entry : entries_) {
      if (entry.name != name) continue;
      if (now - entry.opened < kKept) return entry.fd.get();
      entry.fd = OpenShare(home_fd, name);
      entry.opened = now;
      return entry.fd.get();
    }
    UniqueFd fd = OpenShare(home_fd, name);
    if (!fd) return -1;
    // A home folder holds a handful of links; a stranger's made-up names
    // never open, so they are never kept.
    if (entries_.size() >= kMostKept) entries_.erase(entries_.begin());
    entries_.push_back({std::string(name), std::move(fd), now});
    return entries_.back().fd.get();
  }

  void Forget() { entries_.clear(); }
  // Lets go of shares opened a second ago or more; true while any is kept.
  bool Release() {
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(entries_, [now](const Entry& entry) { return now - entry.opened >= kKept; });
    return !entries_.empty();
  }
  bool Holding() const { return !entries_.empty(); }

 private:
  static constexpr auto kKept = std::chrono::seconds(1);
  static constexpr std::size_t kMostKept = 8;
  struct Entry {
    std::string name;
    UniqueFd fd;
    std::chrono::steady_clock::time_point opened;
  };

  int home_fd_ = -1;
  std::vector<Entry> entries_;
};

thread_local std::unique_ptr<ShareCache> kept_shares;

// The usual request in two opens: the share link, then the rest of the path
// with no link followed and no way out. Anything else (a link below the
// share, a missing name, a guarded folder, a kernel without openat2) is left
// to the walk, which knows what each means.
bool OpenDirect(int home_fd, std::string_view path, ServedNode& node) {
  static std::atomic<bool> unsupported{false};
  if (unsupported.load(std::memory_order_relaxed)) return false;
  if (path.size() < 2 || path.front() != '/') return false;
  const std::size_t slash = path.find('/', 1);
  if (slash == std::string_view::npos || slash + 1 >= path.size()) return false;
  const std::string_view name = path.substr(1, slash - 1);
  UniqueFd owned;
  int share;
  if (kept_shares) {
    share = kept_shares->Open(home_fd, name);
  } else {
    owned = OpenShare(home_fd, name);
    share = owned.get();
  }
  if (share < 0) return false;
  const std::string rest(path.substr(slash + 1));
  open_how how{};
  how.flags = kOpenFlags;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
  UniqueFd target(static_cast<int>(::syscall(SYS_openat2, share, rest.c_str(), &how, sizeof how)));
  if (!target) {
    if (errno == ENOSYS || errno == EPERM || errno == EINVAL || errno == E2BIG) unsupported = true;
    return false;
  }
  struct stat status {};
  if (::fstat(target.get(), &status) != 0 || !Usable(status)) return false;
  // A folder is guarded by its own password file, a file by its folder's.
  // By name below the share: a link swapped in meanwhile could only make the
  // answer that of the folder it leads to, which the swapper could as well
  // have changed itself.
  struct stat guard {};
  bool guarded;
  if (S_ISDIR(status.st_mode)) {
    guarded = ::fstatat(target.get(), ".htpasswd", &guard, AT_SYMLINK_NOFOLLOW) == 0;
  } else {
    const std::size_t last = rest.rfind('/');
    const std::string guard_name =
        last == std::string::npos ? ".htpasswd" : rest.substr(0, last + 1) + ".htpasswd";
    guarded = ::fstatat(share, guard_name.c_str(), &guard, AT_SYMLINK_NOFOLLOW) == 0;
  }
  if (guarded) return false;
  node = ServedNode{};
  node.target = std::move(target);
  node.status = status;
  return true;
}

bool WalkServed(int home_fd, std::string_view path, ServedNode& node) {
  node = ServedNode{};
  const std::vector<std::string_view> parts = Segments(path);
  UniqueFd share;
  if (parts.empty()) {
    share = UniqueFd(::dup(home_fd));
  } else {
    // The home folder's entries are the share links: followed on purpose.
    share = UniqueFd(::openat(home_fd, std::string(parts[0]).c_str(), kOpenFlags));
  }
  if (!share) {
    if (parts.size() == 1) node.folder = UniqueFd(::dup(home_fd));
    return false;
  }
  std::size_t link_at = 0;
  Walk walk;
  if (parts.size() <= 1) {
    node.folder = UniqueFd(::dup(home_fd));
    node.target = std::move(share);
    walk = Walk::kOpened;
  } else {
    walk = WalkNoLinks(share.get(), parts, 1, node, link_at);
  }
  if (walk == Walk::kLink) {
    // A link inside the share may lead elsewhere inside it, never out.
    std::string base, resolved;
    std::string rest = FdPath(node.folder.get());
    for (std::size_t i = link_at; i < parts.size(); ++i) rest += "/" + std::string(parts[i]);
    if (!RealPath(FdPath(share.get()), base) || !RealPath(rest, resolved)) {
      node = ServedNode{};
      return false;
    }
    const bool inside =
        resolved == base || base == "/" ||
        (resolved.size() > base.size() && resolved.compare(0, base.size(), base) == 0 &&
         resolved[base.size()] == '/');
    if (!inside) {
      node = ServedNode{};
      return false;
    }
    const std::vector<std::string_view> inner =
        Segments(std::string_view(resolved).substr(base == "/" ? 0 : base.size()));
    node = ServedNode{};
    // Resolved once: a link met now was put there after the check.
    walk = WalkNoLinks(share.get(), inner, 0, node, link_at);
    if (walk == Walk::kLink) {
      node = ServedNode{};
      return false;
    }
  }
  if (walk != Walk::kOpened) return false;
  if (::fstat(node.target.get(), &node.status) != 0 || !Usable(node.status)) {
    node.target = UniqueFd();
    return false;
  }
  return true;
}

}  // namespace

UniqueFd WatchHomeFolder(int home_fd) {
  UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  const std::string home = "/proc/self/fd/" + std::to_string(home_fd);
  if (watch && ::inotify_add_watch(watch.get(), home.c_str(),
                                   IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0)
    return UniqueFd();
  return watch;
}

void KeepSharesOnThisThread() {
  if (!kept_shares) kept_shares = std::make_unique<ShareCache>();
}

void ForgetKeptShares() {
  if (kept_shares) kept_shares->Forget();
}

bool ReleaseKeptShares() { return kept_shares && kept_shares->Release(); }

bool KeepingShares() { return kept_shares && kept_shares->Holding(); }

int GuardingFolder(const ServedNode& node) {
  if (node.target && node.directory()) return node.target.get();
  return node.folder ? node.folder.get() : -1;
}

bool OpenServed(int home_fd, std::string_view path, ServedNode& node) {
  if (OpenDirect(home_fd, path, node)) return true;
  const bool found = WalkServed(home_fd, path, node);
  const int guard = GuardingFolder(node);
  struct stat status {};
  node.guarded = guard >= 0 && ::fstatat(guard, ".htpasswd", &status, AT_SYMLINK_NOFOLLOW) == 0;
  return found;
}

bool NameReachable(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  // Any path holding ".htpasswd" is refused, not only the file itself.
  if (name.find(".htpasswd") != std::string_view::npos) return false;
  if (name.find('\\') != std::string_view::npos) return false;
  // "/quarno.html" and "/ftp_charset" anywhere in a path answer the status
  // requests; "httpstream" is harmless, it is already in every path.
  return name.rfind("quarno.html", 0) != 0 && name.rfind("ftp_charset", 0) != 0;
}

std::vector<FolderEntry> ListServed(int home_fd, std::string_view folder_path, int folder_fd) {
  std::vector<FolderEntry> entries;
  const int fd = ::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return entries;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return entries;
  }
  std::string prefix(folder_path);
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  while (const dirent* item = ::readdir(dir)) {
    const std::string_view name(item->d_name);
    if (!NameReachable(name)) continue;
    struct stat status {};
    if (::fstatat(fd, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISLNK(status.st_mode)) {
      // Listed only when the request would reach it, with what it reaches.
      ServedNode node;
      if (!OpenServed(home_fd, prefix + item->d_name, node)) continue;
      status = node.status;
    } else if (!Usable(status)) {
      continue;
    }
    FolderEntry entry;
    entry.name = std::string(name);
    entry.directory = S_ISDIR(status.st_mode);
    entry.size = entry.directory ? 0 : static_cast<std::uint64_t>(status.st_size);
    entry.modified = status.st_mtim.tv_sec;
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return entries;
}

}  // namespace quarno::httpd
