#pragma once
// Self-update of the program: the published version, its signed manifest, the
// package download and the hand-over to the desktop's package installer.
//
// Nothing the download server says is trusted by itself: a newer version is
// offered only when "quarno_pcserver_setup.manifest" beside the version file
// is signed with the pinned key, names that version, has not expired, is above
// the running version and updates from it. The package must then have the
// manifest's size and SHA-256 and carry "Package: quarno" and the manifest's
// version in its control fields before the installer sees it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/netprobe.h"
#include "update/download.h"
#include "update/manifest.h"

namespace quarno::update {

inline constexpr char kProgramVersionRequest[] =
    "GET /online_upgrade/quarno_pcserver_setup.version\r\n\r\n";
inline constexpr char kProgramManifestPath[] = "/online_upgrade/quarno_pcserver_setup.manifest";

struct ProgramVersionCheck {
  bool fetched = false;  // the server answered
  std::string latest;    // its answer, trimmed at both ends
  bool newer = false;    // latest is above ProgramVersion() and its manifest holds
  UpdateManifest manifest;  // the verified manifest when `newer`
};

// Asks the program download server at `address` (dotted; the caller resolves
// the configured host) for the published version, and a newer one's manifest
// from `server` ("host[:port]", see ServerUrls). Never fails the start-up: a
// failed exchange writes "Quarno Server 최신버전 정보를 가져오는데
// 실패하였습니다." to the log, a refused manifest its own line, and either
// reports nothing newer.
ProgramVersionCheck CheckLatestProgramVersion(const std::string& address,
                                              const RawHttpOptions& options,
                                              const std::string& server,
                                              const DownloadOptions& download = {});

// Fetches the program manifest from `server` and checks it for `version`
// against the pinned key, the clock and the running version. A refusal is
// logged (one line) by the caller with ManifestRefusal.
ManifestCheck FetchProgramManifest(const std::string& server, const std::string& version,
                                   const DownloadOptions& options, std::string& url);

// Whether `package` is a Debian package of quarno at `version` ("1.07" or a
// Debian revision of it, "1.07-1"), read with `reader` + package + field names.
bool PackageFieldsMatch(const std::string& package, const std::string& version,
                        const std::vector<std::string>& reader);

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
  // Prints a package's control fields; the package and the field names are appended.
  std::vector<std::string> control_reader = {"dpkg-deb", "--field"};
  DownloadOptions download;
  // Starts a program detached (platform::SpawnDetached); tests record instead.
  std::function<int(const std::string& path, const std::vector<std::string>& args)> spawn;
};

// Checks the manifest of `version` again (it may have changed since the
// offer), downloads the package it names into the target folder, and keeps it
// only when its size, SHA-256 and control fields are the manifest's; its path
// goes to `package`. Anything refused is logged and deleted (kRefused or
// kChecksumMismatch).
DownloadResult DownloadSetup(const std::string& version, const ProgramUpdateOptions& options,
                             std::string& package);

// Starts the installer on `package`, detached. False when it could not be started.
bool StartInstaller(const std::string& package, const ProgramUpdateOptions& options);

}  // namespace quarno::update
