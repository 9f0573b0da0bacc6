#include <array>
#include <cstdlib>
#include <optional>

#include "ftpd/server.h"
#include "httpd/http_server.h"

namespace quarno::ftpd {
namespace {

// The HTTP server keeps its own event loop and thread rather than sharing
// the daemon's: a big folder listing or a slow disk then stalls HTTP only,
// never an FTP control channel, and quarno-server runs the same class alone.
class EngineServing : public HttpServing {
 public:
  EngineServing(std::string listen_address, CharsetProvider ftp_charset, MacProvider router_mac)
      : listen_address_(std::move(listen_address)),
        ftp_charset_(std::move(ftp_charset)),
        router_mac_(std::move(router_mac)) {}
  ~EngineServing() override { Stop(); }
  bool Start(int port, const std::string& home, std::string& why) override {
    httpd::HttpServerOptions options;
    options.port_text = std::to_string(port);
    options.document_root = home;
    options.listen_address = listen_address_;
    options.router_mac = router_mac_;
    options.ftp_charset = ftp_charset_;
    if (autoban_) options.login_guard = httpd::GuardFromAutoban(autoban_);
    return server_.StartHttpServer(options, &why);
  }
  void SetAutoban(std::shared_ptr<platform::Autoban> autoban) override {
    autoban_ = std::move(autoban);
  }
  void Stop() override { server_.StopHttpServer(); }
  bool Running() const override { return server_.Running(); }

 private:
  std::string listen_address_;
  CharsetProvider ftp_charset_;
  MacProvider router_mac_;
  std::shared_ptr<platform::Autoban> autoban_;
  httpd::HttpServer server_;
};

}  // namespace

std::unique_ptr<HttpServing> MakeHttpServing(const std::string& listen_address,
                                             CharsetProvider ftp_charset, MacProvider router_mac) {
  return std::make_unique<EngineServing>(listen_address, std::move(ftp_charset),
                                        std::move(router_mac));
}

}  // namespace quarno::ftpd
