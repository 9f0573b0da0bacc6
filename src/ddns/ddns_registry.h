#pragma once
// The DDNS registration server as a capability: register, delete and look up
// the record kept for the router's MAC, with the answers already judged by
// the DDNS client's rules. Both programs' workflows take this interface.
#include <optional>
#include <string>

#include "platform/netinfo.h"

namespace quarno {

// What a registration answer means.
enum class RegisterVerdict {
  kComplete,    // "good" with second and third fields both other than "0"
  kIncomplete,  // "good" but the second or third field is "0", or no second field
  kNotYours,    // contains "!yours": the name belongs to another user
  kBadSys,      // contains "!badsys": parameters rejected
  kFailed,      // anything else, including an empty answer (no exchange)
};

struct RegisterResult {
  RegisterVerdict verdict = RegisterVerdict::kFailed;
  std::string answer;  // the answer body as received, for the traces
};

// One record of the registration server.
struct DdnsRecord {
  std::string host_name;  // name "." suffix
  std::string email;
  std::string ftp_port;
  std::string http_port;  // empty when the answer had no fourth field
  // The host name up to its first ".".
  std::string Name() const { return host_name.substr(0, host_name.find('.')); }
};

struct DdnsLookup {
  std::string answer;                // the answer body as received (logged by the callers)
  std::optional<DdnsRecord> record;  // nullopt: "null", empty, or fewer than three fields
};

struct DdnsRegistration {
  std::string email;
  std::string name;  // without the domain suffix
  platform::MacAddress mac{};
  int ftp_port = 0;
  int http_port = 0;
};

class DdnsRegistry {
 public:
  virtual ~DdnsRegistry() = default;
  // Resolves the registration server's name and sends every later request to
  // its first IPv4 address; nullopt (and nothing changes) when it does not resolve.
  virtual std::optional<std::string> LocateServer() = 0;
  virtual RegisterResult Register(const DdnsRegistration& registration) = 0;
  // True only when the server answered "ok".
  virtual bool Delete(const std::string& email, const std::string& name,
                      const platform::MacAddress& mac) = 0;
  virtual DdnsLookup LookupByMac(const platform::MacAddress& mac) = 0;
};

}  // namespace quarno
