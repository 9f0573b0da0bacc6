#pragma once
// Self-update of the program: the published version, the package download and
// the hand-over to the desktop's package installer.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/netprobe.h"
#include "update/download.h"

namespace quarno::update {

inline constexpr char kProgramVersionRequest[] =
    "GET /online_upgrade/quarno_pcserver_setup.version\r\n\r\n";

struct ProgramVersionCheck {
  bool fetched = false;  // the server answered
  std::string latest;    // its answer, trimmed at both ends
  bool newer = false;    // latest is a usable version above ProgramVersion()
};

// Asks the program download server at `address` (dotted; the caller resolves
// the configured host) for the published version. Never fails the start-up:
// a failed exchange writes "Quarno Server 최신버전 정보를 가져오는데
// 실패하였습니다." to the log and reports nothing newer.
ProgramVersionCheck CheckLatestProgramVersion(const std::string& address,
                                              const RawHttpOptions& options = {});

// The package of a published version: "quarno_pcserver_setup_<v>.deb", served
// under "/online_upgrade/" by the download server.
std::string SetupFileName(const std::string& version);
// "http://" + server ("host" or "host:port") + "/online_upgrade/" + SetupFileName.
std::string SetupUrl(const std::string& server, const std::string& version);

struct ProgramUpdateOptions {
  std::string server;         // "host[:port]" of the download server
  std::string target_folder;  // where the package is stored (the writable folder)
  // The desktop's package installer; the package's path is appended as the
  // last argument. The default hands the .deb to the desktop's handler.
  std::vector<std::string> installer = {"xdg-open"};
  DownloadOptions download;
  // Starts a program detached (platform::SpawnDetached); tests record instead.
  std::function<int(const std::string& path, const std::vector<std::string>& args)> spawn;
};

// Downloads the package of `version` into the target folder (checked against
// a published SHA-256); its path goes to `package`.
DownloadResult DownloadSetup(const std::string& version, const ProgramUpdateOptions& options,
                             std::string& package);

// Starts the installer on `package`, detached. False when it could not be started.
bool StartInstaller(const std::string& package, const ProgramUpdateOptions& options);

}  // namespace quarno::update
