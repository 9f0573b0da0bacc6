#pragma once
// Whole-file reads and crash-safe whole-file replaces, shared by every writer
// of state that another process reads (settings, service records, pid files,
// the FTP server's configuration file, unit files).
#include <string>
#include <string_view>

namespace quarno::platform {

// False when the file cannot be opened or read; `out` is replaced on success.
bool ReadFile(const std::string& path, std::string& out);

// Whether something (file, folder, link) exists at `path` (links not followed).
bool PathExists(const std::string& path);
// Removes a file or link; true when nothing is left at `path` afterwards.
bool RemoveFile(const std::string& path);

// Writes `text` to a temporary file beside `path`, syncs it, renames it over
// `path` and syncs the folder, so a crash at any instant leaves either the old
// file or the complete new one. `step`, when given, is called after the write
// (1), the sync (2) and the rename (3) so tests can kill the writer there.
bool ReplaceFile(const std::string& path, std::string_view text, unsigned mode = 0644,
                 void (*step)(int) = nullptr);

}  // namespace quarno::platform
