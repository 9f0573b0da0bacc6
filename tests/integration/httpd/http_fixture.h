#pragma once
// A running server on 127.0.0.1 over a temporary home folder that holds the
// share link DISK_E, and curl to talk to it.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "httpd/http_server.h"
#include "support/files.h"
#include "support/temp_xdg.h"

struct CurlResult {
  int exit_code = -1;
  std::string output;  // head and body when run with -i
};

// Runs curl with `arguments` (already shell-quoted as needed).
CurlResult RunCurl(const std::string& arguments);
using quarno::test::FreeLoopbackPort;
using quarno::test::ReadFile;
using quarno::test::WriteFile;

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Url(const std::string& path) const;
  CurlResult Get(const std::string& path, const std::string& extra = "");

  // What the owner would read from its settings, per request.
  void SetMac(const std::array<std::uint8_t, 6>& mac);
  void SetCharsetSetting(std::optional<std::string> value);
  void SetAccess(quarno::httpd::AccessRules rules);

  quarno::httpd::HttpServer server_;
  std::mutex values_mutex_;
  std::array<std::uint8_t, 6> mac_{};
  std::optional<std::string> charset_;
  // Open unless a test says otherwise: most tests are about serving.
  quarno::httpd::AccessRules access_{.open = true};
  std::shared_ptr<quarno::httpd::LoginGuard> login_guard_;  // set before SetUp
  std::unique_ptr<quarno::test::TempXdg> xdg_;
  std::string temp_;     // everything lives below
  std::string home_;     // document root
  std::string share_;    // what DISK_E points at
  std::string outside_;  // must never be served
  int port_ = 0;
  // The server's workers and its connections per client address; a fixture
  // may make them small before SetUp.
  int num_threads_ = 256;
  int connections_per_address_ = 128;
};
