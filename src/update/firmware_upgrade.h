#pragma once
// The router firmware upgrade: file download, the multipart upload to the
// router, the installation request and the waits for the router's states
// ("/checkup" answers 6 once it took the file, 5 while it installs, its model
// name once it is back).
//
// The file is taken only as a signed manifest "<model>.manifest" beside the
// model's version file describes it (product firmware, the router's model,
// the published version above the router's, size and SHA-256), and its size
// is checked once more just before the upload. What the router does with the
// bytes it receives is its own affair: it must check its firmware itself.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "update/download.h"

namespace quarno::update {

// "zq300" and "9.12" give "zq300_9_12.bin"; empty when either text could name
// something outside the download folder or the server's firmware folder
// (anything but letters, digits, '-', '_' and '.', or a leading '.').
std::string FirmwareFileName(const std::string& model, const std::string& version);
// "http://" + server + "/online_upgrade/" + file name.
std::string FirmwareUrl(const std::string& server, const std::string& file_name);
// "/online_upgrade/zq300.manifest" for the model zq300.
std::string FirmwareManifestPath(const std::string& model);

inline constexpr char kUploadBoundary[] = "SsS5RoOHpjOb58XTd2hc1GnLdT1mky";
// The multipart part head for the field "upgrade" and the closing tail.
std::string UploadPartHead(const std::string& file_name);
std::string UploadTail();
// The POST header; with a credential it carries "Authorization: Basic".
std::string UploadRequestHeader(uint64_t content_length, const std::string& credential);

struct UploadOptions {
  uint16_t port = 80;
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds receive_timeout{20000};
};
// Sends the file to the router's "/cgi-bin/upgrade.cgi". 0 when the router's
// first answer line contains "200 ok", -1 otherwise (file unreadable, no
// connection in time, send failure, no answer, another answer).
int UploadFirmware(const std::string& router_address, const std::string& file_path,
                   const std::string& file_name, const std::string& credential,
                   const UploadOptions& options = {});

enum UpgradeResult : int {
  kUpgradeOk = 0,
  kUpgradeDownloadFailed = 1,
  kUpgradeTransferFailed = 2,
  kUpgradeConnectionLost = 3,  // the router never said it took the file
};

struct FirmwareUpgradeJob {
  std::string router_address;
  uint16_t router_port = 80;
  std::string firmware_server;  // "host[:port]" of the firmware web server
  std::string model_name;       // lower case, as the router probe left it
  std::string latest_version;
  std::string router_firmware_version;  // what the router runs now
  bool password_required = false;
  std::string credential;  // sent only when the router wants it
  std::string download_folder;
  DownloadOptions download;
};

enum UpgradeStep : int {
  kStepStarted = 0,
  kStepDownloaded = 1,
  kStepTransferred = 2,
  kStepInstallStarted = 3
};

struct UpgradeHooks {
  std::function<void(int step)> mark;     // a step mark became set
  std::function<void()> start_animation;  // the router reports installing (once)
  std::function<std::chrono::steady_clock::time_point()> now;
  std::function<void(std::chrono::milliseconds)> sleep;
  std::function<bool()> cancelled;
};

// Limits of the two waits: for the router to report that it took the file,
// and for it to come back after the installation started.
inline constexpr std::chrono::milliseconds kTakeFileLimit{60000};
inline constexpr std::chrono::milliseconds kComeBackLimit{90000};

// The upgrade worker; returns the result to post with WM_UPGRADE_RESULT.
int RunFirmwareUpgrade(const FirmwareUpgradeJob& job, const UpgradeHooks& hooks);

}  // namespace quarno::update
