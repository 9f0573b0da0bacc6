#pragma once
// The diagnostic log: one file per program under WritableFolder()/Logs,
// emptied at the first line of each run, one timestamped line per call.
// It names client addresses and tried user names, so the folder is 0700 and
// the files 0600. A long run rotates it: past kLogFileLimit the file becomes
// "<name>.1" (older ones move up, the oldest of kLogFilesKept goes), between
// two lines, so no line is lost or split.
#include <cstddef>
#include <string>

namespace quarno {

inline constexpr char kServerLogName[] = "Quarno_Server_log.txt";
inline constexpr char kBootupLogName[] = "Quarno_Bootup_log.txt";
inline constexpr char kFtpdLogName[] = "Quarno_Ftpd_log.txt";

// Chooses the file name before the first WriteLog of the run (default: server log).
void SetLogFileName(const std::string& file_name);
// Overrides the folder (tests); empty restores WritableFolder()/Logs.
void SetLogFolder(const std::string& folder);
// Full path of the log file in use (or that would be used).
std::string LogFilePath();
// "[YYYY-MM-DD hh:mm:ss] message\n"; a silent no-op while the file cannot be made.
void WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline constexpr std::size_t kLogFileLimit = 1 << 20;
inline constexpr int kLogFilesKept = 5;  // the file in use and four older

// Closes the file so the next WriteLog starts a new (empty) log; for tests.
void ResetLogForTesting();
// A smaller rotation size for tests; 0 restores kLogFileLimit.
void SetLogFileLimitForTesting(std::size_t bytes);

}  // namespace quarno
