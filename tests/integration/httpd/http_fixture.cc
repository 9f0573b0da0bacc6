#include "http_fixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "httpd/http_server.h"

namespace fs = std::filesystem;

CurlResult RunCurl(const std::string& arguments) {
  CurlResult result;
  const std::string command = "curl -s -S --max-time 20 " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 65536> buffer;
  std::size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.output.append(buffer.data(), n);
  int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

void HttpServerTest::SetUp() {
  xdg_ = std::make_unique<quarno::test::TempXdg>();
  temp_ = xdg_->root();
  home_ = temp_ + "/zelhome";
  share_ = temp_ + "/share";
  outside_ = temp_ + "/outside";
  for (const std::string& dir : {home_, share_, outside_}) fs::create_directories(dir);
  fs::create_directory_symlink(share_, home_ + "/DISK_E");
  WriteFile(outside_ + "/secret.txt", "TOP-SECRET");

  SetMac({0x02, 0x00, 0x00, 0x12, 0xAB, 0xCD});
  SetCharsetSetting("EUC-KR");
  std::string failure;
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    quarno::httpd::HttpServerOptions options = limits_;
    options.port_text = std::to_string(port_);
    options.document_root = home_;
    options.listen_address = "127.0.0.1";
    options.num_threads = num_threads_;
    options.connections_per_address = connections_per_address_;
    options.router_mac = [this] {
      std::lock_guard lock(values_mutex_);
      return mac_;
    };
    options.ftp_charset = [this] {
      std::lock_guard lock(values_mutex_);
      return charset_;
    };
    options.access = [this] {
      std::lock_guard lock(values_mutex_);
      return access_;
    };
    options.login_guard = login_guard_;
    if (server_.StartHttpServer(options, &failure)) return;
  }
  FAIL() << failure;
}

void HttpServerTest::TearDown() {
  server_.StopHttpServer();
  xdg_.reset();
}

void HttpServerTest::SetMac(const std::array<std::uint8_t, 6>& mac) {
  std::lock_guard lock(values_mutex_);
  mac_ = mac;
}

void HttpServerTest::SetAccess(quarno::httpd::AccessRules rules) {
  std::lock_guard lock(values_mutex_);
  access_ = std::move(rules);
}

void HttpServerTest::SetCharsetSetting(std::optional<std::string> value) {
  std::lock_guard lock(values_mutex_);
  charset_ = std::move(value);
}

std::string HttpServerTest::Url(const std::string& path) const {
  return "'http://127.0.0.1:" + std::to_string(port_) + path + "'";
}

CurlResult HttpServerTest::Get(const std::string& path, const std::string& extra) {
  return RunCurl("-i --path-as-is " + extra + " " + Url(path));
}
