#include "update/download.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <system_error>

#include "core/log.h"
#include "platform/files.h"
#include "update/sha256.h"

namespace quarno::update {
namespace {

constexpr int kMaxRedirects = 5;

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

// Settings every request shares: only web protocols, redirects followed by
// hand (PerformFollowing), bounded time-outs, the system's CA store (libcurl's
// default, verification on), and loopback never through a proxy.
void CommonOptions(CURL* curl, const std::string& url, const DownloadOptions& options) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
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
    case CURLE_FILESIZE_EXCEEDED:
      return DownloadResult::kRefused;
    default:
      return DownloadResult::kNetworkError;
  }
}

bool IsRedirect(long status) { return status >= 300 && status < 400 && status != 304; }

// One request and the redirects after it. `configure` sets up each hop's
// handle, `finished` sees the last one before it goes. A redirect that may
// not be followed ends the chain with `refused`.
CURLcode PerformFollowing(std::string url, const DownloadOptions& options,
                          const std::function<void(CURL*)>& configure,
                          const std::function<void(CURL*)>& finished, long& status,
                          bool& refused) {
  refused = false;
  status = 0;
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    Easy easy;
    if (!easy.handle) return CURLE_OUT_OF_MEMORY;
    CommonOptions(easy.handle, url, options);
    configure(easy.handle);
    const CURLcode code = curl_easy_perform(easy.handle);
    status = 0;
    curl_easy_getinfo(easy.handle, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK || !IsRedirect(status)) {
      if (finished) finished(easy.handle);
      return code;
    }
    char* location = nullptr;
    curl_easy_getinfo(easy.handle, CURLINFO_REDIRECT_URL, &location);
    if (!location) return code;
    const std::string next = location;
    if (!RedirectAllowed(url, next) || hop == kMaxRedirects) {
      WriteLog("download %s: redirect to %s refused", url.c_str(), next.c_str());
      refused = true;
      return CURLE_OK;
    }
    url = next;
  }
  return CURLE_OK;
}

std::string HeaderValue(CURL* curl, const char* name) {
  curl_header* header = nullptr;
  if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header)
    return {};
  return header->value ? header->value : "";
}

// What may go into "If-Range" to continue this answer later: a strong ETag,
// else Last-Modified; empty when the answer has neither.
std::string ValidatorOf(CURL* curl) {
  const std::string etag = HeaderValue(curl, "ETag");
  if (!etag.empty() && etag.rfind("W/", 0) != 0) return etag;
  return HeaderValue(curl, "Last-Modified");
}

void RemoveFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

// One transfer into the part file.
struct FileSink {
  std::FILE* file = nullptr;
  std::string path;
  std::string validator_path;
  uint64_t resume_from = 0;
  uint64_t written = 0;
  bool decided = false;  // whether the answer continues the part or replaces it
  bool failed = false;
  bool too_long = false;  // more bytes than the expected size
  bool bad_range = false;  // 206 that does not continue the part
  CURL* curl = nullptr;
  const DownloadOptions* options = nullptr;
};

// The first byte of a "Content-Range: bytes N-M/T" answer.
bool RangeStartsAt(const std::string& range, uint64_t at) {
  return range.rfind("bytes " + std::to_string(at) + "-", 0) == 0;
}

bool Decide(FileSink& sink) {
  sink.decided = true;
  long status = 0;
  curl_easy_getinfo(sink.curl, CURLINFO_RESPONSE_CODE, &status);
  // 206 from where the part ends continues it; anything else is the whole
  // file from byte 0 (the server sends that when If-Range did not match).
  const bool append = sink.resume_from > 0 && status == 206 &&
                      RangeStartsAt(HeaderValue(sink.curl, "Content-Range"), sink.resume_from);
  if (!append && status == 206) {
    sink.bad_range = true;
    return false;
  }
  sink.file = std::fopen(sink.path.c_str(), append ? "ab" : "wb");
  if (!append) sink.resume_from = 0;
  if (!sink.file) return false;
  const std::string validator = ValidatorOf(sink.curl);
  if (validator.empty()) {
    RemoveFile(sink.validator_path);
  } else if (!append) {
    platform::ReplaceFile(sink.validator_path, validator, 0600);
  }
  return true;
}

size_t WriteToFile(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<FileSink*>(user);
  const size_t bytes = size * count;
  if (!sink->decided) {
    long status = 0;
    curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
    if (IsRedirect(status)) return bytes;  // the body of a redirect is nobody's file
    if (!Decide(*sink)) {
      sink->failed = true;
      return 0;
    }
  }
  const auto& expected = sink->options->expected_size;
  if (expected && sink->resume_from + sink->written + bytes > *expected) {
    sink->too_long = true;
    return 0;
  }
  if (!sink->file || std::fwrite(data, 1, bytes, sink->file) != bytes) {
    sink->failed = true;
    return 0;
  }
  sink->written += bytes;
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

// `restart` is set when the part cannot be continued (the server refuses the
// range), so the caller starts over from byte 0.
DownloadResult TransferToPart(const std::string& url, const std::string& part,
                              const DownloadOptions& options, long& status, bool& restart) {
  restart = false;
  FileSink sink;
  sink.path = part;
  sink.validator_path = part + ".validator";
  sink.options = &options;
  sink.resume_from = FileSize(part);
  std::string validator;
  if (sink.resume_from > 0 && (!platform::ReadFile(sink.validator_path, validator) ||
                               validator.empty() ||
                               (options.expected_size && sink.resume_from >= *options.expected_size))) {
    // Nothing tells whether the server's file is still the one the part began.
    RemoveFile(part);
    sink.resume_from = 0;
  }
  const std::string if_range = "If-Range: " + validator;
  curl_slist* headers = nullptr;
  if (sink.resume_from > 0) headers = curl_slist_append(headers, if_range.c_str());
  bool refused = false;
  const CURLcode code = PerformFollowing(
      url, options,
      [&](CURL* curl) {
        sink.curl = curl;
        curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
        if (options.expected_size)
          curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                           static_cast<curl_off_t>(*options.expected_size));
        if (sink.resume_from > 0) {
          curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE,
                           static_cast<curl_off_t>(sink.resume_from));
          curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        }
      },
      nullptr, status, refused);
  curl_slist_free_all(headers);
  if (sink.file && std::fclose(sink.file) != 0) sink.failed = true;
  if (refused) return DownloadResult::kRefused;
  if (sink.too_long) return DownloadResult::kRefused;
  if (code == CURLE_RANGE_ERROR || sink.bad_range || (sink.resume_from > 0 && status == 416)) {
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

// Host and scheme of a URL, lower-cased; false when it does not parse.
bool SchemeAndHost(const std::string& url, std::string& scheme, std::string& host) {
  CURLU* u = curl_url();
  if (!u) return false;
  bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
  char* s = nullptr;
  char* h = nullptr;
  ok = ok && curl_url_get(u, CURLUPART_SCHEME, &s, 0) == CURLUE_OK &&
       curl_url_get(u, CURLUPART_HOST, &h, 0) == CURLUE_OK;
  if (ok) {
    scheme = s;
    host = h;
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  curl_free(s);
  curl_free(h);
  curl_url_cleanup(u);
  return ok;
}

bool NoAnswer(DownloadResult result, long status) {
  return status == 0 &&
         (result == DownloadResult::kNetworkError || result == DownloadResult::kTimeout);
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
    case DownloadResult::kRefused:
      return "refused";
  }
  return "?";
}

bool RedirectAllowed(const std::string& from, const std::string& to) {
  std::string from_scheme, from_host, to_scheme, to_host;
  if (!SchemeAndHost(from, from_scheme, from_host) || !SchemeAndHost(to, to_scheme, to_host))
    return false;
  if (to_scheme == "https") return true;
  return to_scheme == "http" && from_host == to_host;
}

std::vector<std::string> ServerUrls(const std::string& server, const std::string& path) {
  if (server.rfind("https://", 0) == 0 || server.rfind("http://", 0) == 0) return {server + path};
  std::string host = server;
  // "host:port" (not an IPv6 literal in brackets with nothing after).
  const std::size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos)
    host = host.substr(0, colon);
  return {"https://" + host + path, "http://" + server + path};
}

DownloadResult FetchText(const std::string& url, std::string& text, long& status,
                         const DownloadOptions& options, std::size_t limit) {
  GlobalInit();
  struct Buffer {
    std::string data;
    std::size_t limit;
    CURL* curl;
  } buffer{{}, limit, nullptr};
  bool refused = false;
  const CURLcode code = PerformFollowing(
      url, options,
      [&](CURL* curl) {
        buffer.curl = curl;
        buffer.data.clear();
        curl_easy_setopt(
            curl, CURLOPT_WRITEFUNCTION,
            +[](char* data, size_t size, size_t count, void* user) -> size_t {
              auto* b = static_cast<Buffer*>(user);
              const size_t bytes = size * count;
              if (b->data.size() + bytes > b->limit) return 0;
              b->data.append(data, bytes);
              return bytes;
            });
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &buffer);
      },
      nullptr, status, refused);
  if (refused) return DownloadResult::kRefused;
  if (code != CURLE_OK) return FromCurlCode(code);
  if (status >= 400) return DownloadResult::kHttpError;
  text = std::move(buffer.data);
  return DownloadResult::kOk;
}

namespace {

DownloadResult DownloadFileAt(const std::string& url, const std::string& target,
                              const DownloadOptions& options, long& status) {
  GlobalInit();
  const std::string part = target + ".part";
  const std::string validator = part + ".validator";
  status = 0;
  bool restart = false;
  DownloadResult result = TransferToPart(url, part, options, status, restart);
  if (restart) {
    RemoveFile(part);
    RemoveFile(validator);
    result = TransferToPart(url, part, options, status, restart);
  }
  if (result != DownloadResult::kOk) {
    // A part cut off by the network is kept for the next attempt; one that
    // answered an error status, was cancelled or cannot be written is not.
    if (result != DownloadResult::kNetworkError && result != DownloadResult::kTimeout) {
      RemoveFile(part);
      RemoveFile(validator);
    }
    WriteLog("download %s failed: %s (HTTP %ld)", url.c_str(), DownloadResultName(result), status);
    return result;
  }
  auto refuse = [&](DownloadResult why, const std::string& line) {
    RemoveFile(part);
    RemoveFile(validator);
    WriteLog("download %s: %s", url.c_str(), line.c_str());
    return why;
  };

  if (!options.expected_sha256.empty()) {
    const uint64_t size = FileSize(part);
    if (options.expected_size && size != *options.expected_size)
      return refuse(DownloadResult::kRefused,
                    std::to_string(size) + " bytes, the manifest names " +
                        std::to_string(*options.expected_size));
    const auto actual = FileSha256(part);
    if (!actual || *actual != options.expected_sha256)
      return refuse(DownloadResult::kChecksumMismatch,
                    "SHA-256 does not match the manifest; file deleted");
  } else if (options.verify_published_sha256) {
    std::string published;
    long digest_status = 0;
    DownloadOptions digest_options = options;
    digest_options.progress = nullptr;
    const DownloadResult fetched =
        FetchText(url + ".sha256", published, digest_status, digest_options);
    if (fetched == DownloadResult::kOk) {
      const auto expected = ParsePublishedSha256(published);
      const auto actual = FileSha256(part);
      if (!expected || !actual || *expected != *actual)
        return refuse(DownloadResult::kChecksumMismatch, "SHA-256 does not match the published one");
    } else if (!(fetched == DownloadResult::kHttpError && digest_status == 404)) {
      // Whether a digest exists is unknown: do not hand on an unchecked file.
      refuse(fetched, std::string("the published SHA-256 could not be read (") +
                          DownloadResultName(fetched) + ")");
      return fetched == DownloadResult::kHttpError ? DownloadResult::kNetworkError : fetched;
    }
  }

  RemoveFile(validator);
  std::error_code ec;
  std::filesystem::rename(part, target, ec);
  if (ec) {
    RemoveFile(part);
    return DownloadResult::kWriteError;
  }
  return DownloadResult::kOk;
}

}  // namespace

DownloadResult DownloadFile(const std::string& url, const std::string& target,
                            const DownloadOptions& options) {
  long status = 0;
  return DownloadFileAt(url, target, options, status);
}

DownloadResult DownloadFromServer(const std::string& server, const std::string& path,
                                  const std::string& target, const DownloadOptions& options,
                                  std::string* url) {
  DownloadResult result = DownloadResult::kNetworkError;
  for (const std::string& candidate : ServerUrls(server, path)) {
    if (url) *url = candidate;
    long status = 0;
    result = DownloadFileAt(candidate, target, options, status);
    if (!NoAnswer(result, status)) return result;
  }
  return result;
}

DownloadResult FetchTextFromServer(const std::string& server, const std::string& path,
                                   std::string& text, long& status,
                                   const DownloadOptions& options, std::size_t limit,
                                   std::string* url) {
  DownloadResult result = DownloadResult::kNetworkError;
  for (const std::string& candidate : ServerUrls(server, path)) {
    if (url) *url = candidate;
    result = FetchText(candidate, text, status, options, limit);
    if (!NoAnswer(result, status)) return result;
  }
  return result;
}

}  // namespace quarno::update
