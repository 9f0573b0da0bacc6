#include "platform/links.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quarno::platform {

bool CreateDirLink(const std::string& link, const std::string& target) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
    return false;  // never replace real data
  // Make the new link beside the old one and rename over it, so the name
  // always points somewhere.
  std::string temp = link + ".new-link." + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0) return false;
  if (rename(temp.c_str(), link.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

bool RemoveLinkOnly(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  return unlink(path.c_str()) == 0;
}

bool IsLink(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::vector<std::string> ListLinks(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (IsLink(folder + "/" + name)) names.push_back(name);
  }
  closedir(dir);
  return names;
}

}  // namespace quarno::platform
