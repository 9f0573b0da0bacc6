#include <array>
#include <cstdlib>

#include "core/settings.h"
#include "ftpd/server.h"
#include "httpd/http_server.h"

namespace quarno::ftpd {
namespace {

// The preface answers with the router MAC tail and the FTP charset; the boot
// service leaves both in the settings, so they are read at each start.
void LoadPrefaceValues() {
  std::string tail, charset;
  std::array<uint8_t, 6> mac{};
  if (ReadSetting(setting::kMac, tail) && tail.size() == 6) {
    for (int i = 0; i < 3; ++i) {
      char* end = nullptr;
      std::string byte = tail.substr(static_cast<size_t>(2 * i), 2);
      unsigned long v = std::strtoul(byte.c_str(), &end, 16);
      if (end && *end == '\0') mac[static_cast<size_t>(3 + i)] = static_cast<uint8_t>(v);
    }
  }
  httpd::SetRouterMac(mac);
  ReadSetting(setting::kFtpCharset, charset);
  httpd::SetFtpCharsetUtf8(charset == "UTF-8");
}

class CivetServing : public HttpServing {
 public:
  explicit CivetServing(std::string listen_address) : listen_address_(std::move(listen_address)) {}
  ~CivetServing() override { Stop(); }
  bool Start(int port, const std::string& home, std::string& why) override {
    LoadPrefaceValues();
    httpd::HttpServerOptions options;
    options.port_text = std::to_string(port);
    options.document_root = home;
    options.listen_address = listen_address_;
    return httpd::StartHttpServer(options, &why);
  }
  void Stop() override { httpd::StopHttpServer(); }
  bool Running() const override { return httpd::HttpServerRunning(); }

 private:
  std::string listen_address_;
};

}  // namespace

std::unique_ptr<HttpServing> MakeHttpServing(const std::string& listen_address) {
  return std::make_unique<CivetServing>(listen_address);
}

}  // namespace quarno::ftpd
