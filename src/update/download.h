#pragma once
// HTTP downloads of update files (program package, router firmware) with
// libcurl: time-outs, progress, resumption of an interrupted download, and
// the check against the size and SHA-256 a signed manifest names.
//
// The file grows as "<target>.part" and is renamed to `target` only once it is
// complete and matches the expected size and digest; a file that does not
// match is deleted, so nothing unchecked is ever left under the target name
// to be started. A part is continued only with "If-Range" and the validator
// (strong ETag or Last-Modified) the server sent for it, kept beside it in
// "<target>.part.validator"; without one, or when the file changed, the
// download starts over. Redirects are followed only to https or to the same
// host.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quarno::update {

enum class DownloadResult {
  kOk,
  kNetworkError,      // no connection, connection lost, bad answer
  kTimeout,           // connect, stall or total time-out
  kHttpError,         // the server answered with an error status (e.g. 404)
  kWriteError,        // the target folder or file cannot be written
  kChecksumMismatch,  // the expected (or published) SHA-256 differs from the file's
  kCancelled,
  kRefused,           // redirected elsewhere, or not of the expected size
};
const char* DownloadResultName(DownloadResult result);

struct DownloadOptions {
  std::chrono::milliseconds connect_timeout{10000};
  // Abort when less than one byte arrived in this long.
  std::chrono::seconds stall_timeout{30};
  std::chrono::seconds total_timeout{1800};
  // Called from the downloading thread: bytes of the file so far and its
  // whole size (0 while unknown).
  std::function<void(uint64_t done, uint64_t total)> progress;
  // Polled during the transfer; true aborts it (kCancelled).
  std::function<bool()> cancelled;
  // Fetch "<url>.sha256" and require a match when the server has one; only
  // when no expected digest is given.
  bool verify_published_sha256 = true;
  // What the file must be, from a verified manifest: exactly this many bytes
  // with this lower-case hexadecimal SHA-256.
  std::optional<uint64_t> expected_size;
  std::string expected_sha256;
};

// Whether a redirect from `from` may be followed to `to`: to https anywhere,
// or to the same host (same scheme or https).
bool RedirectAllowed(const std::string& from, const std::string& to);

// The URLs to try for `path` on a configured server, best first. "host[:port]"
// gives https on the host's standard port, then http on the configured one;
// a server given with its scheme ("https://h:p", "http://h:p") only that.
std::vector<std::string> ServerUrls(const std::string& server, const std::string& path);

// Downloads `url` (http or https only) to `target`. A "<target>.part" left by
// an interrupted run is continued with a range request; a server that answers
// with the whole file instead simply starts it over.
DownloadResult DownloadFile(const std::string& url, const std::string& target,
                            const DownloadOptions& options = {});

// Fetches a small text (version files, digests) of at most `limit` bytes.
// The HTTP status goes to `status` (0 when no answer came).
DownloadResult FetchText(const std::string& url, std::string& text, long& status,
                         const DownloadOptions& options = {}, std::size_t limit = 4096);

// The same from a configured server (ServerUrls): the next URL is tried only
// when the previous one gave no HTTP answer at all. Integrity never depends on
// the transport: whatever arrives is checked against a signed manifest.
// `url` receives the URL that answered (or the last one tried).
DownloadResult DownloadFromServer(const std::string& server, const std::string& path,
                                  const std::string& target, const DownloadOptions& options,
                                  std::string* url = nullptr);
DownloadResult FetchTextFromServer(const std::string& server, const std::string& path,
                                   std::string& text, long& status,
                                   const DownloadOptions& options = {}, std::size_t limit = 4096,
                                   std::string* url = nullptr);

}  // namespace quarno::update
