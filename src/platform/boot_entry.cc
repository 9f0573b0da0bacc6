#include "platform/boot_entry.h"

#include <sstream>

#include "platform/files.h"
#include "platform/paths.h"

namespace quarno::platform {
namespace {

std::string Suffix(const std::string& tag) { return " # " + tag; }

bool Tagged(const std::string& line, const std::string& tag) {
  const std::string suffix = Suffix(tag);
  return line.size() >= suffix.size() &&
         line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The current table; false when there is no crontab program. "No crontab
// for <user>" (status 1, nothing on standard output) is an empty table.
bool ReadTable(const CommandRunner& run, std::string& table) {
  table.clear();
  const int status = run({"crontab", "-l"}, table);
  if (status < 0) return false;
  if (status != 0) table.clear();
  return true;
}

}  // namespace

BootEntryResult SetBootEntry(const std::string& tag, const std::string& command,
                             const CommandRunner& run) {
  std::string table;
  if (!ReadTable(run, table)) return BootEntryResult::kNoCron;
  if (command.find_first_of("\r\n") != std::string::npos) return BootEntryResult::kFailed;
  std::string kept;
  std::istringstream in(table);
  bool had = false;
  for (std::string line; std::getline(in, line);) {
    if (Tagged(line, tag)) {
      had = true;
      continue;
    }
    kept += line + "\n";
  }
  if (command.empty() && !had) return BootEntryResult::kDone;
  if (!command.empty()) kept += "@reboot " + command + Suffix(tag) + "\n";
  const std::string file = RuntimeFolder() + "/crontab." + tag;
  if (!ReplaceFile(file, kept, 0600)) return BootEntryResult::kFailed;
  std::string out;
  const int status = run({"crontab", file}, out);
  RemoveFile(file);
  if (status < 0) return BootEntryResult::kNoCron;
  return status == 0 ? BootEntryResult::kDone : BootEntryResult::kFailed;
}

std::string BootEntryCommand(const std::string& tag, const CommandRunner& run) {
  std::string table;
  if (!ReadTable(run, table)) return {};
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) {
    if (Tagged(line, tag) && line.rfind("@reboot ", 0) == 0)
      return line.substr(8, line.size() - 8 - Suffix(tag).size());
  }
  return {};
}

}  // namespace quarno::platform
