#pragma once
// Client of the DDNS registration server: register, delete and look up the
// host name kept for the router's MAC address. One POST of a form per call,
// over a fresh connection to the address the owner resolved beforehand.
//
//   quarno::CDDNS_Manager ddns;                       // defaults of endpoints.h
//   ddns.SetServerAddress(quarno::ResolveDdnsServer());
//   std::string body = ddns.GetByMac(mac);            // "null" or "host;mail;ftp;http"
//   auto record = quarno::ParseGetByMacAnswer(body);
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/endpoints.h"
#include "ddns/ddns_registry.h"
#include "net/peer_exchange.h"
#include "platform/netinfo.h"

namespace quarno {

struct DdnsOptions {
  Program program = Program::kServer;
  uint16_t port = endpoints::kDdnsServerPort;
  std::string host_header = endpoints::kDdnsServerHost;
  std::string credential = endpoints::kDdnsCredential;
  std::string domain_suffix = endpoints::kDdnsDomainSuffix;
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds receive_timeout{15000};
  std::size_t chunk_size = 511;
  UserMessageSink show_message;  // used only when program == kServer
};

class CDDNS_Manager {
 public:
  explicit CDDNS_Manager(DdnsOptions options = {});
  virtual ~CDDNS_Manager();

  // Dotted IPv4 address of the registration server (at most 49 characters
  // are kept); must be set before the first request.
  void SetServerAddress(const std::string& dotted);
  const std::string& ServerAddress() const { return server_address_; }
  const DdnsOptions& Options() const { return options_; }
  DdnsOptions& MutableOptions() { return options_; }

  // The answer body (ExtractBody), or empty when the exchange failed.
  // Classify it with ClassifyRegisterAnswer.
  std::string RegisterHost(const std::string& email, const std::string& name,
                           const platform::MacAddress& mac, int ftp_port, int http_port);
  // True only when the server answered "ok" (any letter case).
  bool DeleteHost(const std::string& email, const std::string& name,
                  const platform::MacAddress& mac);
  // "null", "host;email;ftp;http" (lower case), or empty when the exchange failed.
  std::string GetByMac(const platform::MacAddress& mac);

  // One exchange: 1 success, 0 connection time-out or receive failure (the
  // bytes received so far stay appended to `response`), -1 no socket.
  int SendRequest(const std::string& request, std::string& response);

  // Trimmed, lower-cased text between "<body>" and "</body>"; empty when a
  // marker is missing.
  static std::string ExtractBody(const std::string& response);

  // The exact bytes sent; public for tests and diagnostics.
  const std::string& RequestHeader() const { return request_header_; }
  std::string ComposeRequest(const std::string& body) const;
  std::string RegisterBody(const std::string& email, const std::string& name,
                           const platform::MacAddress& mac, int ftp_port, int http_port) const;
  std::string DeleteBody(const std::string& email, const std::string& name,
                         const platform::MacAddress& mac) const;
  std::string GetByMacBody(const platform::MacAddress& mac) const;

 private:
  void Show(const char* text) const;

  DdnsOptions options_;
  std::string request_header_;
  std::string server_address_;
};

RegisterVerdict ClassifyRegisterAnswer(const std::string& body);

// Splits at ";" and skips empty fields.
std::vector<std::string> SplitAnswerFields(const std::string& body);

// nullopt for an empty answer, "null" (any case) or fewer than three fields;
// a missing HTTP port stays empty.
std::optional<DdnsRecord> ParseGetByMacAnswer(const std::string& body);

// Resolves the registration server's name once (first IPv4 address); empty on failure.
std::string ResolveDdnsServer(const std::string& host = endpoints::kDdnsServerHost);

// The registry over the DDNS client.
class DdnsClientRegistry final : public DdnsRegistry {
 public:
  explicit DdnsClientRegistry(DdnsOptions options = {});
  std::optional<std::string> LocateServer() override;
  RegisterResult Register(const DdnsRegistration& registration) override;
  bool Delete(const std::string& email, const std::string& name,
              const platform::MacAddress& mac) override;
  DdnsLookup LookupByMac(const platform::MacAddress& mac) override;
  CDDNS_Manager& Client() { return client_; }

 private:
  CDDNS_Manager client_;
};

}  // namespace quarno
