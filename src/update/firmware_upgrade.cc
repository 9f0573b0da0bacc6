#include "update/firmware_upgrade.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/log.h"
#include "core/netprobe.h"
#include "net/peer_exchange.h"
#include "platform/tcp_socket.h"
#include "router/router_client.h"
#include "update/manifest.h"
#include "update/sha256.h"
#include "update/version.h"

namespace quarno::update {
namespace {

bool IsSafeNamePart(const std::string& text) {
  if (text.empty() || text.size() > 64 || text[0] == '.') return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
      return false;
  }
  return true;
}

// The "/checkup" body, or nullopt-like empty with `ok` false when the
// exchange failed.
std::string CheckupBody(const FirmwareUpgradeJob& job, bool& ok) {
  RawHttpOptions raw;
  raw.port = job.router_port;
  std::string answer;
  ok = RawHttpExchange(job.router_address, kCheckupRequest, answer, raw) == 0;
  if (!ok) return {};
  bool has_body = false;
  return TrimmedBodyAfterHeader(answer, has_body);
}

}  // namespace

std::string FirmwareFileName(const std::string& model, const std::string& version) {
  if (!IsSafeNamePart(model) || !IsSafeNamePart(version)) return {};
  std::string v = version;
  for (char& c : v) {
    if (c == '.') c = '_';
  }
  return model + "_" + v + ".bin";
}

std::string FirmwareUrl(const std::string& server, const std::string& file_name) {
  return "http://" + server + "/online_upgrade/" + file_name;
}

std::string FirmwareManifestPath(const std::string& model) {
  return "/online_upgrade/" + model + ".manifest";
}

std::string UploadPartHead(const std::string& file_name) {
  return std::string("--") + kUploadBoundary +
         "\r\nContent-Disposition: form-data; name=\"upgrade\"; filename=\"" + file_name +
         "\"\r\n" + "Content-Type: application/octet-stream\r\n\r\n";
}

std::string UploadTail() { return std::string("\r\n--") + kUploadBoundary + "--\r\n"; }

std::string UploadRequestHeader(uint64_t content_length, const std::string& credential) {
  std::string header = "POST /cgi-bin/upgrade.cgi HTTP/1.1\r\n";
  header += std::string("Content-Type: multipart/form-data; boundary=") + kUploadBoundary + "\r\n";
  header += "Content-Length: " + std::to_string(content_length) + "\r\n";
  if (!credential.empty()) header += "Authorization: Basic " + credential + "\r\n";
  return header + "\r\n";
}

int UploadFirmware(const std::string& router_address, const std::string& file_path,
                   const std::string& file_name, const std::string& credential,
                   const UploadOptions& options) {
  std::ifstream file(file_path, std::ios::binary);
  if (!file) return -1;
  std::error_code ec;
  const auto size = std::filesystem::file_size(file_path, ec);
  if (ec) return -1;
  const std::string head = UploadPartHead(file_name);
  const std::string tail = UploadTail();
  const std::string header =
      UploadRequestHeader(head.size() + tail.size() + static_cast<uint64_t>(size), credential);

  platform::TcpSocket socket;
  if (!ConnectPeer(socket, router_address, options.port, options.connect_timeout)) return -1;
  // Header and part head go out together; the file follows in 512-byte blocks.
  if (!socket.Send(header + head)) {
    WriteLog("펌웨어를 공유기에 전송 중에 에러가 발생하였습니다.");
    return -1;
  }
  char block[512];
  uint64_t sent = 0;
  while (sent < size) {
    file.read(block, sizeof block);
    const std::streamsize n = file.gcount();
    if (n <= 0 || !socket.Send(std::string_view(block, static_cast<std::size_t>(n)))) {
      // A file that shrank under us is as broken as a failed send.
      WriteLog("펌웨어를 공유기에 전송 중에 에러가 발생하였습니다.");
      return -1;
    }
    sent += static_cast<uint64_t>(n);
  }
  file.close();
  std::string answer;
  if (!socket.Send(tail) || socket.Recv(answer, 512, options.receive_timeout) <= 0) {
    WriteLog("펌웨어를 공유기에 전송 후 응답 에러가 발생하였습니다.");
    socket.Close();
    return -1;
  }
  socket.Close();
  bool has_line = false;
  const std::string line = LowerFirstLine(answer, has_line);
  return has_line && line.find("200 ok") != std::string::npos ? 0 : -1;
}

int RunFirmwareUpgrade(const FirmwareUpgradeJob& job, const UpgradeHooks& hooks) {
  auto now = [&] { return hooks.now ? hooks.now() : std::chrono::steady_clock::now(); };
  auto sleep = [&](std::chrono::milliseconds d) {
    if (hooks.sleep) {
      hooks.sleep(d);
    } else {
      std::this_thread::sleep_for(d);
    }
  };
  auto cancelled = [&] { return hooks.cancelled && hooks.cancelled(); };
  auto mark = [&](int step) {
    if (hooks.mark) hooks.mark(step);
  };

  // 1-2: the firmware file.
  const std::string file_name = FirmwareFileName(job.model_name, job.latest_version);
  if (file_name.empty()) {
    WriteLog("firmware file name refused: model \"%s\", version \"%s\"", job.model_name.c_str(),
             job.latest_version.c_str());
    return kUpgradeDownloadFailed;
  }
  const std::string file_path = job.download_folder + "/" + file_name;
  std::string manifest_url, text;
  long status = 0;
  DownloadOptions fetch = job.download;
  fetch.progress = nullptr;
  fetch.total_timeout = std::min(fetch.total_timeout, std::chrono::seconds(30));
  const DownloadResult fetched =
      FetchTextFromServer(job.firmware_server, FirmwareManifestPath(job.model_name), text, status,
                          fetch, kManifestLimit, &manifest_url);
  ManifestCheck manifest;
  if (fetched != DownloadResult::kOk) {
    manifest.detail = std::string(DownloadResultName(fetched)) + " (HTTP " +
                      std::to_string(status) + ")";
  } else {
    ManifestExpectation expected;
    expected.product = "firmware";
    expected.model = job.model_name;
    expected.version = job.latest_version;
    expected.file = file_name;
    expected.running = job.router_firmware_version;
    expected.now = static_cast<int64_t>(std::time(nullptr));
    manifest = CheckManifest(text, PinnedUpdateKey(), expected);
  }
  if (manifest.verdict != ManifestVerdict::kOk) {
    WriteLog("%s", ManifestRefusal(manifest_url, manifest).c_str());
    return kUpgradeDownloadFailed;
  }
  DownloadOptions download = job.download;
  download.expected_size = manifest.manifest.size;
  download.expected_sha256 = manifest.manifest.sha256;
  if (DownloadFromServer(job.firmware_server, "/online_upgrade/" + file_name, file_path,
                         download) != DownloadResult::kOk)
    return kUpgradeDownloadFailed;
  mark(kStepDownloaded);

  // The file must still be the one checked: nothing replaced it in the folder.
  std::error_code ec;
  const auto size = std::filesystem::file_size(file_path, ec);
  if (ec || size != manifest.manifest.size || FileSha256(file_path) != manifest.manifest.sha256) {
    WriteLog("firmware file %s changed after its check; not sent to the router", file_path.c_str());
    return kUpgradeTransferFailed;
  }

  // 3-4: to the router.
  UploadOptions upload;
  upload.port = job.router_port;
  const std::string credential = job.password_required ? job.credential : std::string();
  if (UploadFirmware(job.router_address, file_path, file_name, credential, upload) != 0)
    return kUpgradeTransferFailed;
  mark(kStepTransferred);

  // 5: until the router says it took the file.
  const auto take_start = now();
  while (true) {
    if (cancelled()) return kUpgradeConnectionLost;
    bool ok = false;
    const std::string body = CheckupBody(job, ok);
    if (ok && LeadingNumber(body) == 6) break;
    if (now() - take_start >= kTakeFileLimit) {
      WriteLog("the router did not report the firmware as taken within %lld s",
               static_cast<long long>(kTakeFileLimit.count() / 1000));
      return kUpgradeConnectionLost;
    }
    sleep(std::chrono::seconds(1));
  }

  // 6: start the installation; its answer tells nothing.
  std::string request = "GET /cgi-bin/upgrade.cgi HTTP/1.1\r\n";
  if (!credential.empty()) request += "Authorization: Basic " + credential + "\r\n";
  request += "\r\n";
  RawHttpOptions raw;
  raw.port = job.router_port;
  std::string ignored;
  RawHttpExchange(job.router_address, request, ignored, raw);
  mark(kStepInstallStarted);

  // 7: until the router is back under its model name, at most 90 s; either
  // way the upgrade counts as done.
  const auto back_start = now();
  bool animating = false;
  while (!cancelled()) {
    bool ok = false;
    const std::string body = CheckupBody(job, ok);
    // The probe kept the model name in lower case; the router sends its own case.
    if (ok && AsciiLower(body) == AsciiLower(job.model_name)) break;
    if (ok && LeadingNumber(body) == 5 && !animating) {
      animating = true;
      if (hooks.start_animation) hooks.start_animation();
    }
    if (now() - back_start >= kComeBackLimit) break;
    sleep(std::chrono::seconds(1));
  }
  return kUpgradeOk;
}

}  // namespace quarno::update
