#include "update/program_update.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <system_error>

#include "core/log.h"
#include "net/peer_exchange.h"
#include "platform/process.h"
#include "update/version.h"

namespace quarno::update {

ManifestCheck FetchProgramManifest(const std::string& server, const std::string& version,
                                   const DownloadOptions& options, std::string& url) {
  std::string text;
  long status = 0;
  DownloadOptions fetch = options;
  fetch.progress = nullptr;
  // A few hundred bytes: a server that trickles them is not waited for long.
  fetch.total_timeout = std::min(fetch.total_timeout, std::chrono::seconds(30));
  const DownloadResult fetched =
      FetchTextFromServer(server, kProgramManifestPath, text, status, fetch, kManifestLimit, &url);
  if (fetched != DownloadResult::kOk) {
    ManifestCheck missing;
    missing.detail = std::string(DownloadResultName(fetched)) + " (HTTP " +
                     std::to_string(status) + ")";
    return missing;
  }
  ManifestExpectation expected;
  expected.product = "quarno";
  expected.version = version;
  expected.file = SetupFileName(version);
  expected.running = ProgramVersion();
  expected.now = static_cast<int64_t>(std::time(nullptr));
  return CheckManifest(text, PinnedUpdateKey(), expected);
}

ProgramVersionCheck CheckLatestProgramVersion(const std::string& address,
                                              const RawHttpOptions& options,
                                              const std::string& server,
                                              const DownloadOptions& download) {
  ProgramVersionCheck check;
  std::string answer;
  if (address.empty() || RawHttpExchange(address, kProgramVersionRequest, answer, options) != 0) {
    WriteLog("Quarno Server 최신버전 정보를 가져오는데 실패하였습니다.");
    return check;
  }
  check.fetched = true;
  check.latest = TrimWhite(answer);
  if (LeadingNumber(check.latest) <= LeadingNumber(ProgramVersion())) return check;
  // The text becomes part of a file name and a URL: only a plain version may.
  if (!IsSafeVersionText(check.latest)) {
    WriteLog("published program version is not a plain version text; no update offered");
    return check;
  }
  std::string url;
  const ManifestCheck manifest = FetchProgramManifest(server, check.latest, download, url);
  if (manifest.verdict != ManifestVerdict::kOk) {
    WriteLog("%s", ManifestRefusal(url, manifest).c_str());
    return check;
  }
  check.manifest = manifest.manifest;
  check.newer = true;
  return check;
}

std::string SetupFileName(const std::string& version) {
  return "quarno_pcserver_setup_" + version + ".deb";
}

std::string SetupUrl(const std::string& server, const std::string& version) {
  return "http://" + server + "/online_upgrade/" + SetupFileName(version);
}

bool PackageFieldsMatch(const std::string& package, const std::string& version,
                        const std::vector<std::string>& reader) {
  if (reader.empty()) return false;
  std::vector<std::string> args(reader.begin() + 1, reader.end());
  args.insert(args.end(), {package, "Package", "Version"});
  std::string output;
  if (platform::RunForOutput(reader.front(), args, output, std::chrono::seconds(30), 64 * 1024) != 0)
    return false;
  std::map<std::string, std::string> fields;
  std::size_t pos = 0;
  while (pos < output.size()) {
    std::size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    fields[line.substr(0, colon)] = TrimWhite(line.substr(colon + 1));
  }
  const std::string& got = fields["Version"];
  return fields["Package"] == "quarno" &&
         (got == version || got.rfind(version + "-", 0) == 0);
}

DownloadResult DownloadSetup(const std::string& version, const ProgramUpdateOptions& options,
                             std::string& package) {
  if (!IsSafeVersionText(version)) return DownloadResult::kHttpError;
  std::string url;
  const ManifestCheck manifest = FetchProgramManifest(options.server, version, options.download, url);
  if (manifest.verdict != ManifestVerdict::kOk) {
    WriteLog("%s", ManifestRefusal(url, manifest).c_str());
    return DownloadResult::kRefused;
  }
  const UpdateManifest& m = manifest.manifest;
  package = options.target_folder + "/" + m.file;
  DownloadOptions download = options.download;
  download.expected_size = m.size;
  download.expected_sha256 = m.sha256;
  const DownloadResult result =
      DownloadFromServer(options.server, "/online_upgrade/" + m.file, package, download);
  if (result != DownloadResult::kOk) return result;
  if (!PackageFieldsMatch(package, m.version, options.control_reader)) {
    WriteLog("downloaded package %s is not quarno %s by its control fields; deleted",
             package.c_str(), m.version.c_str());
    std::error_code ec;
    std::filesystem::remove(package, ec);
    return DownloadResult::kRefused;
  }
  return DownloadResult::kOk;
}

bool StartInstaller(const std::string& package, const ProgramUpdateOptions& options) {
  if (options.installer.empty()) return false;
  std::vector<std::string> args(options.installer.begin() + 1, options.installer.end());
  args.push_back(package);
  const int pid = options.spawn ? options.spawn(options.installer.front(), args)
                                : platform::SpawnDetached(options.installer.front(), args);
  if (pid < 0) WriteLog("package installer %s could not be started", options.installer[0].c_str());
  return pid >= 0;
}

}  // namespace quarno::update
