#pragma once
// The five-attempt registration of the PC's host name with fresh ports, as
// both programs run it: the boot service when it renews a registration, the
// desktop program when it registers an address (RegisterAddress) or renews
// one after a port conflict (ReRegisterAfterPortConflict).
//
// Each attempt: servers off, a short pause, a new HTTP port, servers on,
// mappings added (the passive range with the FTP mapping), RegisterHost; a complete answer sets the
// router's DDNS setting and ends the attempts, any other answer deletes the mappings just added and
// tries again. The callers store the registration themselves.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "core/network_facts.h"
#include "ddns/ddns_registry.h"
#include "platform/clock.h"
#include "platform/netinfo.h"
#include "router/router_access.h"
#include "upnp/port_mapper.h"

namespace quarno {

// How the caller switches its servers around the attempts: the boot service
// through control codes, the desktop program through admin messages.
class RegistrationServers {
 public:
  virtual ~RegistrationServers() = default;
  // Before each attempt, on a refusal and after the last failure.
  virtual void StopServing() = 0;
  // FTP on `ftp_port`, HTTP on the newly chosen `http_port`.
  virtual void StartServing(int ftp_port, int http_port) = 0;
};

// Which of the server's mappings the procedure replaces.
enum class RenewedMappings {
  kFtpAndHttp,  // registration: both removed first, both added in each attempt
  kHttpOnly,    // port conflict: only the HTTP mapping; the FTP mapping stays
};

struct RenewRequest {
  std::string email;
  std::string name;
  platform::MacAddress router_mac{};
  std::string local_address;  // internal client of the mappings
  UpnpControlPoint control;
  int ftp_port = 0;
  // The FTP port as the router's DDNS setting gets it (the stored text).
  std::string router_ftp_port;
  RenewedMappings mappings = RenewedMappings::kFtpAndHttp;
  // The FTP server's passive ports, mapped and removed with the FTP mapping
  // (empty: none).
  PortRange passive_ports;
  // "!yours" and "!badsys" end the attempts at once (not looked for after a port conflict).
  bool stop_on_refusal = true;
  // After a failure, delete the record at the DDNS server so that no
  // half-made registration stays.
  bool delete_host_on_failure = true;
  int attempts = 5;
  uint16_t port_low = 35001;
  uint16_t port_high = 65535;  // excluded
  std::chrono::milliseconds settle_after_start{0};
  std::chrono::milliseconds short_pause{10};
  // Asked before each attempt; true ends the attempts as failed (the program is ending).
  std::function<bool()> stop_requested;
};

enum class RenewOutcome {
  kRegistered,  // a complete answer; the router's DDNS setting was sent
  kNotYours,    // "!yours": the name belongs to another user
  kBadSys,      // "!badsys": parameters rejected
  kFailed,      // every attempt without a complete answer
};

struct RenewResult {
  RenewOutcome outcome = RenewOutcome::kFailed;
  int http_port = 0;  // the port of the last attempt (0 when none was made)
  bool ok() const { return outcome == RenewOutcome::kRegistered; }
};

// The capabilities the procedure acts on.
struct RenewWorld {
  RegistrationServers& servers;
  DdnsRegistry& ddns;
  PortMapper& mapper;
  RouterAccess& router;
  NetworkFacts& network;
  platform::Clock& clock;
};

RenewResult RenewRegistration(const RenewRequest& request, const RenewWorld& world);

}  // namespace quarno
