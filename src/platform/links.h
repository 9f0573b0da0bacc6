#pragma once
// Directory links (symlinks) play the part of junctions.
#include <string>
#include <vector>

namespace quarno::platform {

// Creates `link` pointing at `target`; an existing link at `link` is replaced.
bool CreateDirLink(const std::string& link, const std::string& target);
// Removes `path` only if it is a symbolic link (never follows it).
bool RemoveLinkOnly(const std::string& path);
bool IsLink(const std::string& path);
// Names (not paths) of the symbolic links directly inside `folder`.
std::vector<std::string> ListLinks(const std::string& folder);

}  // namespace quarno::platform
