#pragma once
// HTTP downloads of update files (program package, router firmware) with
// libcurl: time-outs, progress, resumption of an interrupted download where
// the server honours ranges, and the check against a published SHA-256.
//
// The file grows as "<target>.part" and is renamed to `target` only once it is
// complete and, where the server publishes "<url>.sha256", matches that
// digest; a file that does not match is deleted, so nothing unchecked is ever
// left under the target name to be started.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace quarno::update {

enum class DownloadResult {
  kOk,
  kNetworkError,      // no connection, connection lost, bad answer
  kTimeout,           // connect, stall or total time-out
  kHttpError,         // the server answered with an error status (e.g. 404)
  kWriteError,        // the target folder or file cannot be written
  kChecksumMismatch,  // the published SHA-256 differs from the file's
  kCancelled,
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
  // Fetch "<url>.sha256" and require a match when the server has one.
  bool verify_published_sha256 = true;
};

// Downloads `url` (http or https only) to `target`. A "<target>.part" left by
// an interrupted run is continued with a range request; a server that answers
// with the whole file instead simply starts it over.
DownloadResult DownloadFile(const std::string& url, const std::string& target,
                            const DownloadOptions& options = {});

// Fetches a small text (version files, digests) of at most `limit` bytes.
// The HTTP status goes to `status` (0 when no answer came).
DownloadResult FetchText(const std::string& url, std::string& text, long& status,
                         const DownloadOptions& options = {}, std::size_t limit = 4096);

}  // namespace quarno::update
