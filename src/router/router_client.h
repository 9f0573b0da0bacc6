#pragma once
// Client of the maker's router over its own HTTP interface: the router probe
// ("/checkup"), the firmware version ("/version"), the administrator
// credential check (sysinfo with HTTP Basic) and the router-side DDNS setting.
// Every call takes the router's address; the port and time-outs come from
// RouterOptions (defaults: port 80, 10 s connect, 15 s receive).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/endpoints.h"
#include "core/netprobe.h"
#include "net/peer_exchange.h"
#include "router/router_access.h"

namespace quarno {

struct RouterOptions {
  Program program = Program::kServer;
  uint16_t port = endpoints::kRouterHttpPort;
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds receive_timeout{15000};
  // Largest single receive: 256 for the probes (255 in the boot-time check),
  // 511 for the router-side DDNS setting.
  std::size_t chunk_size = 256;
  // Finds the gateway for CheckRouter; tests replace it.
  std::function<bool(GatewayInfo&)> find_gateway = [](GatewayInfo& info) {
    return FindGateway(info);
  };
  UserMessageSink show_message;  // used only when program == kServer
  // Where CheckAdminCredentials keeps the credential entered (the program's one instance).
  RouterCredential* credential = nullptr;
};

// The two probe requests, sent as they stand.
inline constexpr char kCheckupRequest[] = "GET /checkup HTTP/1.1\r\n\r\n";
inline constexpr char kVersionRequest[] = "GET /version HTTP/1.1\r\n\r\n";

// What CheckRouter fills in (the main window's or the launcher's copy).
struct RouterFacts {
  GatewayInfo gateway;     // router address, this PC's address, router MAC
  std::string model_name;  // lower case, trimmed
};

// FindGateway, then the "/checkup" probe of the gateway found. True when the
// gateway answers "200 ok"; the body (when present) becomes the model name.
bool CheckRouter(RouterFacts& facts, const RouterOptions& options = {});

// The "/checkup" probe of a known address. `model_name` keeps its value when
// the answer has no blank line. Log lines name the cause of a failed receive.
bool ProbeRouter(const std::string& address, std::string& model_name,
                 const RouterOptions& options = {});

// 0 with the trimmed version text (e.g. "8.34") in `version`; -1 no socket,
// -2 no connection, -3 receive failed.
int GetRouterFirmwareVersion(const std::string& address, std::string& version,
                             const RouterOptions& options = {});

// --- Administrator credential (the "다음" button of the credentials page) ---

// Base64 (RFC 4648, "=" padding) of "user:password".
std::string MakeRouterCredential(const std::string& user, const std::string& password);
std::string Base64Encode(const std::string& bytes);

// "GET /cgi-bin/corvane.cgi?tmenu=sysinfo&smenu=internet HTTP/1.1\r\n" plus,
// with a credential, "Authorization: Basic <credential>\r\n"; then "\r\n".
std::string SysinfoRequest(const std::string& credential = {});

enum class SysinfoAnswer {
  kUnauthorized,  // first line contains "401 unauthorized"
  kAccepted,      // first line contains "200 ok"
  kOther,         // anything else (including no line end)
};
SysinfoAnswer ClassifySysinfoAnswer(const std::string& response);

// The start-up question whether the router wants credentials: the sysinfo
// request without them (RawHttpExchange). 1 when it answers
// "401 unauthorized", 0 otherwise, -1 when the exchange failed.
int RouterWantsPassword(const std::string& address, const RouterOptions& options = {});

// Validates the fields, keeps the credential in options.credential (when
// given), sends the sysinfo request with it (RawHttpExchange) and says what
// the page does next.
CredentialCheck CheckAdminCredentials(const std::string& address, const std::string& user,
                                      const std::string& password,
                                      const RouterOptions& options = {});

// --- Router-side DDNS setting ---

// The GET request of the router's DDNS setting; values are percent-encoded
// (plain names, e-mail addresses and ports go out unchanged).
std::string RouterDdnsRequest(const std::string& name, const std::string& email,
                              const std::string& ftp_port, const std::string& http_port,
                              const std::string& domain_suffix = endpoints::kDdnsDomainSuffix);

struct RouterDdnsOptions : RouterOptions {
  // 5 s in Quarno_Server, 10 s in Quarno_Bootup_Service.
  RouterDdnsOptions() {
    connect_timeout = std::chrono::milliseconds(5000);
    chunk_size = 511;
  }
  std::string domain_suffix = endpoints::kDdnsDomainSuffix;
};
// Sends the setting and returns the answer: the trimmed, lower-cased text
// between "<body>" and "</body>" when both are there, else the answer as
// received; empty when the exchange failed.
std::string SetRouterDdns(const std::string& gateway, const std::string& name,
                          const std::string& email, const std::string& ftp_port,
                          const std::string& http_port, const RouterDdnsOptions& options = {});

// The router access over the functions above. The probe uses `probe`
// (program kBootup: the boot check's log line after connecting, no log lines
// on failure), the DDNS setting `ddns`.
class RouterClient final : public RouterAccess {
 public:
  // `probe.credential` receives the credential of CheckCredentials.
  explicit RouterClient(RouterOptions probe = {}, RouterDdnsOptions ddns = {});
  std::optional<std::string> Probe(const std::string& address) override;
  FirmwareVersion Firmware(const std::string& address) override;
  PasswordQuestion WantsPassword(const std::string& address) override;
  CredentialCheck CheckCredentials(const std::string& address, const std::string& user,
                                   const std::string& password) override;
  std::optional<std::string> SetDdns(const std::string& gateway,
                                     const RouterDdnsSetting& setting) override;

 private:
  RouterOptions probe_;
  RouterDdnsOptions ddns_;
};

}  // namespace quarno
