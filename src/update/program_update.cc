#include "update/program_update.h"

#include "core/log.h"
#include "net/peer_exchange.h"
#include "platform/process.h"
#include "update/version.h"

namespace quarno::update {

ProgramVersionCheck CheckLatestProgramVersion(const std::string& address,
                                              const RawHttpOptions& options) {
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
  check.newer = true;
  return check;
}

std::string SetupFileName(const std::string& version) {
  return "quarno_pcserver_setup_" + version + ".deb";
}

std::string SetupUrl(const std::string& server, const std::string& version) {
  return "http://" + server + "/online_upgrade/" + SetupFileName(version);
}

DownloadResult DownloadSetup(const std::string& version, const ProgramUpdateOptions& options,
                             std::string& package) {
  if (!IsSafeVersionText(version)) return DownloadResult::kHttpError;
  package = options.target_folder + "/" + SetupFileName(version);
  return DownloadFile(SetupUrl(options.server, version), package, options.download);
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
