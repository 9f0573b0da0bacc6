// Serves a folder with the product's server on 127.0.0.1 until stdin closes,
// for bench/httpd/run_bench.sh.  Usage: httpd_bench_server PORT ROOT TLS_FOLDER
// HTTPS answers on the same port with the identity made in TLS_FOLDER, as the
// product does with the install's one.
#include <cstdio>
#include <string>

#include "httpd/http_server.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PORT ROOT TLS_FOLDER\n", argv[0]);
    return 2;
  }
  quarno::httpd::HttpServerOptions options;
  options.port_text = argv[1];
  options.document_root = argv[2];
  options.listen_address = "127.0.0.1";
  options.tls_folder = argv[3];
  // The open share: the figures are of serving, not of refusing. Left unset,
  // the machine's stored settings would decide, and most machines refuse.
  options.access = [] {
    quarno::httpd::AccessRules rules;
    rules.open = true;
    return rules;
  };
  quarno::httpd::HttpServer server;
  std::string failure;
  if (!server.StartHttpServer(options, &failure)) {
    std::fprintf(stderr, "%s: %s\n", quarno::httpd::kStartFailureCaption, failure.c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  server.StopHttpServer();
  return 0;
}
