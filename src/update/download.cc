#include "update/download.h"

#include <curl/curl.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "core/log.h"
#include "update/sha256.h"

namespace quarno::update {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Easy {
  CURL* handle = nullptr;
  Easy() : handle(curl_easy_init()) {}
  ~Easy() {
    if (handle) curl_easy_cleanup(handle);
  }
  Easy(const Easy&) = delete;
  Easy& operator=(const Easy&) = delete;
};

// Settings every request shares: only web protocols (a redirect must not
// lead to file:// or anything else), bounded redirects and time-outs, and
// loopback never through a proxy.
void CommonOptions(CURL* curl, const std::string& url, const DownloadOptions& options) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.0/8,::1");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(options.connect_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.stall_timeout.count()));
  curl_easy_setopt(
      curl, CURLOPT_TIMEOUT_MS,
      static_cast<long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(options.total_timeout).count()));
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "quarno-server");
}

DownloadResult FromCurlCode(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return DownloadResult::kOk;
    case CURLE_OPERATION_TIMEDOUT:
      return DownloadResult::kTimeout;
    case CURLE_ABORTED_BY_CALLBACK:
      return DownloadResult::kCancelled;
    case CURLE_WRITE_ERROR:
      return DownloadResult::kWriteError;
    case CURLE_HTTP_RETURNED_ERROR:
      return DownloadResult::kHttpError;
    default:
      return DownloadResult::kNetworkError;
  }
}

// One transfer into the part file.
struct FileSink {
  std::FILE* file = nullptr;
  std::string path;
  uint64_t resume_from = 0;
  bool decided = false;  // whether the answer continues the part or replaces it
  bool failed = false;
  CURL* curl = nullptr;
  const DownloadOptions* options = nullptr;
};

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<FileSink*>(user);
  const size_t bytes = size * count;
  if (!sink->decided) {
    sink->decided = true;
    long status = 0;
    curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
    // 206 continues the part; anything else is the whole file from byte 0.
    const bool append = sink->resume_from > 0 && status == 206;
    sink->file = std::fopen(sink->path.c_str(), append ? "ab" : "wb");
    if (!append) sink->resume_from = 0;
    if (!sink->file) {
      sink->failed = true;
      return 0;
    }
  }
  if (!sink->file || std::fwrite(data, 1, bytes, sink->file) != bytes) {
    sink->failed = true;
    return 0;
  }
  return bytes;
}

int OnProgress(void* user, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t) {
  auto* sink = static_cast<FileSink*>(user);
  const DownloadOptions& options = *sink->options;
  if (options.cancelled && options.cancelled()) return 1;
  if (options.progress) {
    const uint64_t base = sink->resume_from;
    options.progress(base + static_cast<uint64_t>(done),
                     total > 0 ? base + static_cast<uint64_t>(total) : 0);
  }
  return 0;
}

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

void RemoveFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// `restart` is set when the part cannot be continued (the server refuses or
// ignores the range), so the caller starts over from byte 0.
DownloadResult TransferToPart(const std::string& url, const std::string& part,
                              const DownloadOptions& options, long& status, bool& restart) {
  restart = false;
  Easy easy;
  if (!easy.handle) return DownloadResult::kNetworkError;
  FileSink sink;
  sink.path = part;
  sink.curl = easy.handle;
  sink.options = &options;
  sink.resume_from = FileSize(part);
  CommonOptions(easy.handle, url, options);
  curl_easy_setopt(easy.handle, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(easy.handle, CURLOPT_WRITEFUNCTION, WriteToFile);
  curl_easy_setopt(easy.handle, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(easy.handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy.handle, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(easy.handle, CURLOPT_XFERINFODATA, &sink);
  if (sink.resume_from > 0)
    curl_easy_setopt(easy.handle, CURLOPT_RESUME_FROM_LARGE,
                     static_cast<curl_off_t>(sink.resume_from));
  const CURLcode code = curl_easy_perform(easy.handle);
  status = 0;
  curl_easy_getinfo(easy.handle, CURLINFO_RESPONSE_CODE, &status);
  if (sink.file && std::fclose(sink.file) != 0) sink.failed = true;
  if (code == CURLE_RANGE_ERROR || (sink.resume_from > 0 && status == 416)) {
    restart = true;
    return DownloadResult::kNetworkError;
  }
  if (code == CURLE_OK && !sink.decided && sink.resume_from == 0) {
    // An empty file: nothing was written, so make sure the part is empty too.
    // (With a resumed part, no body means the part was already whole.)
    if (std::FILE* f = std::fopen(part.c_str(), "wb")) {
      std::fclose(f);
    } else {
      return DownloadResult::kWriteError;
    }
  }
  if (sink.failed) return DownloadResult::kWriteError;
  return FromCurlCode(code);
}

}  // namespace

const char* DownloadResultName(DownloadResult result) {
  switch (result) {
    case DownloadResult::kOk:
      return "ok";
    case DownloadResult::kNetworkError:
      return "network error";
    case DownloadResult::kTimeout:
      return "time-out";
    case DownloadResult::kHttpError:
      return "HTTP error";
    case DownloadResult::kWriteError:
      return "write error";
    case DownloadResult::kChecksumMismatch:
      return "SHA-256 mismatch";
    case DownloadResult::kCancelled:
      return "cancelled";
  }
  return "?";
}

DownloadResult FetchText(const std::string& url, std::string& text, long& status,
                         const DownloadOptions& options, std::size_t limit) {
  GlobalInit();
  Easy easy;
  status = 0;
  if (!easy.handle) return DownloadResult::kNetworkError;
  struct Buffer {
    std::string data;
    std::size_t limit;
  } buffer{{}, limit};
  CommonOptions(easy.handle, url, options);
  curl_easy_setopt(
      easy.handle, CURLOPT_WRITEFUNCTION,
      +[](char* data, size_t size, size_t count, void* user) -> size_t {
        auto* b = static_cast<Buffer*>(user);
        const size_t bytes = size * count;
        if (b->data.size() + bytes > b->limit) return 0;
        b->data.append(data, bytes);
        return bytes;
      });
  curl_easy_setopt(easy.handle, CURLOPT_WRITEDATA, &buffer);
  const CURLcode code = curl_easy_perform(easy.handle);
  curl_easy_getinfo(easy.handle, CURLINFO_RESPONSE_CODE, &status);
  if (code != CURLE_OK) return FromCurlCode(code);
  if (status >= 400) return DownloadResult::kHttpError;
  text = std::move(buffer.data);
  return DownloadResult::kOk;
}

DownloadResult DownloadFile(const std::string& url, const std::string& target,
                            const DownloadOptions& options) {
  GlobalInit();
  const std::string part = target + ".part";
  long status = 0;
  bool restart = false;
  DownloadResult result = TransferToPart(url, part, options, status, restart);
  if (restart) {
    RemoveFile(part);
    result = TransferToPart(url, part, options, status, restart);
  }
  if (result != DownloadResult::kOk) {
    // A part cut off by the network is kept for the next attempt; one that
    // answered an error status, was cancelled or cannot be written is not.
    if (result != DownloadResult::kNetworkError && result != DownloadResult::kTimeout)
      RemoveFile(part);
    WriteLog("download %s failed: %s (HTTP %ld)", url.c_str(), DownloadResultName(result), status);
    return result;
  }

  if (options.verify_published_sha256) {
    std::string published;
    long digest_status = 0;
    DownloadOptions digest_options = options;
    digest_options.progress = nullptr;
    const DownloadResult fetched =
        FetchText(url + ".sha256", published, digest_status, digest_options);
    if (fetched == DownloadResult::kOk) {
      const auto expected = ParsePublishedSha256(published);
      const auto actual = FileSha256(part);
      if (!expected || !actual || *expected != *actual) {
        RemoveFile(part);
        WriteLog("download %s: SHA-256 does not match the published one", url.c_str());
        return DownloadResult::kChecksumMismatch;
      }
    } else if (!(fetched == DownloadResult::kHttpError && digest_status == 404)) {
      // Whether a digest exists is unknown: do not hand on an unchecked file.
      RemoveFile(part);
      WriteLog("download %s: the published SHA-256 could not be read (%s)", url.c_str(),
               DownloadResultName(fetched));
      return fetched == DownloadResult::kHttpError ? DownloadResult::kNetworkError : fetched;
    }
  }

  std::error_code ec;
  std::filesystem::rename(part, target, ec);
  if (ec) {
    RemoveFile(part);
    return DownloadResult::kWriteError;
  }
  return DownloadResult::kOk;
}

}  // namespace quarno::update
