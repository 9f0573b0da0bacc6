#pragma once
// A quarno-ftpd server on 127.0.0.1 in this process, over a temporary home
// folder holding the share link DISK_E, plus the clients the tests drive it
// with: curl, lftp and Python's ftplib as programs, and a raw admin client.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>

#include "ftpd/admin_codec.h"
#include "ftpd/server.h"
#include "support/files.h"
#include "support/temp_xdg.h"

struct RunResult {
  int exit_code = -1;
  std::string output;  // stdout and stderr
};

// Runs a shell command line, bounded to 30 s.
RunResult RunShell(const std::string& command);
using quarno::test::FreeLoopbackPort;
using quarno::test::ReadFile;
using quarno::test::WriteFile;
std::string RandomBytes(size_t n, unsigned seed);
// The daemon's log goes to `folder` (created) until TakeLog(), which returns
// what it holds and sends the log back where it was.
void CaptureLog(const std::string& folder);
std::string TakeLog();
// How many times `needle` stands in `text`.
size_t Occurrences(const std::string& text, const std::string& needle);
// `text` with the first `from` replaced by `to` (configuration variants).
inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Blocking admin protocol client with time-outs.
class AdminClient {
 public:
  // Answers the password challenge with the run's secret unless `answer` is
  // false (then it stops after the challenge).
  explicit AdminClient(int port, bool answer = true);
  ~AdminClient();
  bool ok() const { return fd_ >= 0; }
  quarno::ftpd::Bytes greeting;
  quarno::ftpd::Bytes challenge;  // payload of the password challenge
  bool Send(uint8_t id, const quarno::ftpd::Bytes& payload);
  bool SendRaw(const quarno::ftpd::Bytes& bytes);
  // Next message, or false on time-out / close.
  bool Receive(uint8_t& type, uint8_t& id, quarno::ftpd::Bytes& payload, int timeout_ms = 3000);
  // Skips messages until one of `type` and `id` arrives.
  bool Expect(uint8_t type, uint8_t id, quarno::ftpd::Bytes& payload, int timeout_ms = 3000);
  bool Closed(int timeout_ms = 3000);

 private:
  bool ReadExact(size_t n, std::string& out, int timeout_ms);
  int fd_ = -1;
};

class FtpdTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Extra <Item>s for the settings, written before the server starts.
  virtual std::string ExtraSettings() { return ""; }
  // Changes to the server's options before it starts.
  virtual void AdjustOptions(quarno::ftpd::ServerOptions&) {}
  std::string ConfigText(int ftp_port, const std::string& user, const std::string& password,
                         const std::string& extra = "") const;
  void StartServer();
  void StopServer();

  template <typename F>
  auto OnLoop(F f) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    asio::post(server_->io(), [&task] { task(); });
    return result.get();
  }

  // Python 3 with ftplib; HOST, PORT, USER, PASS, SHARE and HOME are in the
  // environment. Exit code 0 means every assertion in the script held.
  RunResult Python(const std::string& code);
  RunResult Lftp(const std::string& commands);
  std::string Control(const std::string& line);
  std::string FtpUrl(const std::string& path) const;

  std::unique_ptr<quarno::test::TempXdg> xdg_;
  std::string home_, share_, outside_;
  int ftp_port_ = 0, admin_port_ = 0;
  std::chrono::milliseconds login_delay_{200};
  std::unique_ptr<quarno::ftpd::Server> server_;
  std::thread thread_;
};
