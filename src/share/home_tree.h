#pragma once
// The home folder tree both servers publish: HomeFolder() holds one directory
// symlink per shared folder ("the share junction"), so changing the share only
// re-points a link and the servers' root never changes.
//
// Link work runs on one background thread in the order it was asked for; the
// callers never wait for it (except ShareLink::RemoveAtExit). Only
// symbolic links directly inside the home folder are ever removed, and no
// link is followed to remove anything.
#include <mutex>
#include <string>

namespace quarno::share {

// "DISK_E" for a drive-root text of three characters ("E:\", "e:/" gives
// "DISK_e"); otherwise the last component of the path, trailing slashes
// ignored. Empty when the text names no usable folder ("", "/", ".", "..").
std::string LinkName(const std::string& shared_folder);
// HomeFolder() + "/" + LinkName(shared_folder); empty when the name is.
std::string JunctionPath(const std::string& shared_folder);

// Removes every symbolic link directly inside the home folder (stale share
// links of an earlier run). Folders, files and the links' targets stay.
void RemoveHomeJunctions();

// The share link of one program: the junction it made last, so that
// re-pointing removes the previous link and the exit removes the current one.
class ShareLink {
 public:
  // Empty until the first Link; the start-up decision sets it to the link
  // the boot-up service made.
  std::string CurrentPath() const;
  void SetCurrentPath(const std::string& junction_path);

  // Re-points the share link: removes the previous current junction when its
  // path differs, makes the new one current, and links it to `shared_folder`.
  // False (and nothing changes) when the shared folder yields no link name.
  bool Link(const std::string& shared_folder);

  // At program exit: removes the current junction and waits until all link
  // work queued so far is done, so the home folder is left without the share link.
  void RemoveAtExit();

 private:
  mutable std::mutex mutex_;
  std::string current_;
};

// Blocks until the link work queued so far is done (tests, orderly exit).
void WaitForLinkWork();

}  // namespace quarno::share
