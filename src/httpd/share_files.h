#pragma once
// Opening what a request names, below the home folder, without following any
// link the check did not see. The home folder's own entries are the share
// links and are followed; below them a link is followed only when it resolves
// inside its share, and a link swapped in after that check makes the open
// fail instead of leading elsewhere. Only regular files and folders are ever
// handed out: a named pipe would hold a worker, a device is no file.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarno::httpd {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

struct ServedNode {
  // The folder that holds the target (the target itself for the home); may
  // be unset for a target found that no password file guards.
  UniqueFd folder;
  UniqueFd target;  // open read-only; empty when missing or refused
  struct stat status {};
  // A ".htpasswd" guards the target: in the folder itself for a folder, else
  // in `folder`, which is then set (for a missing target too).
  bool guarded = false;
  bool directory() const { return S_ISDIR(status.st_mode); }
};

// Opens the home folder; -1 with errno on failure.
int OpenHomeFolder(const std::string& path);

// `path` is absolute and clean ("/", "/DISK_E/a.txt": no "", "." or ".."
// segments). False when the target is missing, refused or no file or folder;
// `node.folder` and `node.guarded` are still set when the folder that would
// hold it exists.
bool OpenServed(int home_fd, std::string_view path, ServedNode& node);

// A server's loop thread keeps the share folders it opens for a second, so a
// run of requests resolves each share link once. It keeps them only while
// it watches the home folder: WatchHomeFolder gives the inotify descriptor
// (empty when there is none to be had), and ForgetKeptShares runs when that
// turns readable, so a link changed is followed at once. ReleaseKeptShares,
// about once a second while KeepingShares(), lets go of shares opened a
// second ago, so a shared disk can be unmounted; it says whether any remain.
UniqueFd WatchHomeFolder(int home_fd);
void KeepSharesOnThisThread();
void ForgetKeptShares();
bool ReleaseKeptShares();
bool KeepingShares();

// The folder whose ".htpasswd" guards the node: its own for a folder; -1
// when there is none open.
int GuardingFolder(const ServedNode& node);

struct FolderEntry {
  std::string name;
  bool directory = false;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // seconds since the epoch
};

// Names a client could name in a request and fetch: what OpenServed would
// open, minus what the request handling answers otherwise (".htpasswd", the
// status request names, "\"). Unsorted.
std::vector<FolderEntry> ListServed(int home_fd, std::string_view folder_path, int folder_fd);

// True when a request path naming this entry reaches the file handler.
bool NameReachable(std::string_view name);

}  // namespace quarno::httpd
