#include <array>
#include <cstdlib>
#include <optional>

#include "core/settings.h"
#include "ftpd/server.h"
#include "httpd/http_server.h"

namespace quarno::ftpd {
namespace {

// The boot service leaves the router MAC tail in the settings; read for each
// identification request, like the charset.
std::array<uint8_t, 6> RouterMacFromSettings() {
  std::string tail;
  std::array<uint8_t, 6> mac{};
  if (ReadSetting(setting::kMac, tail) && tail.size() == 6) {
    for (int i = 0; i < 3; ++i) {
      char* end = nullptr;
      std::string byte = tail.substr(static_cast<size_t>(2 * i), 2);
      unsigned long v = std::strtoul(byte.c_str(), &end, 16);
      if (end && *end == '\0') mac[static_cast<size_t>(3 + i)] = static_cast<uint8_t>(v);
    }
  }
  return mac;
}

std::optional<std::string> FtpCharsetFromSettings() {
  std::string charset;
  if (!ReadSetting(setting::kFtpCharset, charset)) return std::nullopt;
  return charset;
}

class CivetServing : public HttpServing {
 public:
  explicit CivetServing(std::string listen_address) : listen_address_(std::move(listen_address)) {}
  ~CivetServing() override { Stop(); }
  bool Start(int port, const std::string& home, std::string& why) override {
    httpd::HttpServerOptions options;
    options.port_text = std::to_string(port);
    options.document_root = home;
    options.listen_address = listen_address_;
    options.router_mac = &RouterMacFromSettings;
    options.ftp_charset = &FtpCharsetFromSettings;
    return server_.StartHttpServer(options, &why);
  }
  void Stop() override { server_.StopHttpServer(); }
  bool Running() const override { return server_.Running(); }

 private:
  std::string listen_address_;
  httpd::HttpServer server_;
};

}  // namespace

std::unique_ptr<HttpServing> MakeHttpServing(const std::string& listen_address) {
  return std::make_unique<CivetServing>(listen_address);
}

}  // namespace quarno::ftpd
