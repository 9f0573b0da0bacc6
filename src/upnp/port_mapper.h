#pragma once
// The router's UPnP port mapping as a capability: find the gateway's control
// point, read and classify the server's mappings, add and delete mappings.
// The reading keeps the list it read (as the UPnP client does), so that
// RemoveServerMappings deletes what the last readings listed.
#include <optional>
#include <string>
#include <vector>

namespace quarno {

inline constexpr char kFtpMappingDescription[] = "Quarno_Server_FTP";
inline constexpr char kHttpMappingDescription[] = "Quarno_Server_HTTP";
// The FTP server's passive ports. Never taken for the FTP or HTTP mapping:
// those are told apart by their whole description.
inline constexpr char kPassiveMappingDescription[] = "Quarno_Server_PASV";

// The ports quarno-ftpd opens for passive data connections, mapped on the
// router beside the FTP port: ten ports, enough for a few clients at once
// (a data connection holds its port only until the client connects).
struct PortRange {
  int low = 0;
  int high = 0;  // included
  bool empty() const { return low <= 0 || high < low; }
  bool contains(int port) const { return !empty() && port >= low && port <= high; }
};
// 29900..29909: below the admin ports (30000..35000), the HTTP ports picked
// from 35001 up and the kernel's ephemeral ports (32768 up), so none of them
// ever lands in it; 29910..29919 instead when the FTP port itself lies in it.
PortRange PassivePortRange(int ftp_port);

// One port mapping as the gateway lists it and as the actions send it.
struct PortMapping {
  std::string external_port;
  std::string protocol;
  std::string internal_port;
  std::string internal_client;
  std::string enabled;
  std::string description;
  // Seconds left as the gateway lists it; 0 for a mapping without expiry
  // (or a gateway that does not say). Not sent by the actions.
  long lease_duration = 0;
};

// The server's own mapping: external = internal port, "TCP", enabled "1".
PortMapping ServerPortMapping(const std::string& description, int port,
                              const std::string& local_address);
// One server mapping per port of the passive range.
std::vector<PortMapping> PassivePortMappings(const PortRange& range,
                                             const std::string& local_address);

// Where the gateway takes its control requests.
struct UpnpControlPoint {
  std::string gateway;
  int port = 0;
  std::string control_url;
};

// Who the server's FTP mapping ("Quarno_Server_FTP", the last one listed) points at.
enum class MappingClass : int {
  kNoUpnpGateway = -1,
  kNoServerMapping = 0,
  kMappedToThisPc = 1,
  kMappedToOtherPc = 2,
};
using enum MappingClass;

struct ServerMappingReading {
  MappingClass kind = kNoUpnpGateway;
  UpnpControlPoint control;  // set unless kNoUpnpGateway
  // External port of the last server FTP mapping, whatever PC it names.
  std::optional<std::string> ftp_port;
  // External port of the last server HTTP mapping that names this PC.
  std::optional<std::string> http_port;
};

// Result of AddPortMapping and DeletePortMapping: kUpnpActionOk, the
// gateway's UPnP errorCode (e.g. 718), or kUpnpNoAnswer.
inline constexpr int kUpnpActionOk = 0;
// The answer was empty or held neither a 200 status nor a usable errorCode:
// a failure, never success.
inline constexpr int kUpnpNoAnswer = -1;
struct UpnpActionResult {
  int code = kUpnpNoAnswer;
  bool ok() const { return code == kUpnpActionOk; }
};

// Which of the server's mappings RemoveServerMappings deletes.
enum class ServerMappingScope { kFtpAndHttp, kHttpOnly };

class PortMapper {
 public:
  virtual ~PortMapper() = default;
  // Unicast SSDP search and device description; nullopt when no WANIPConnection:1 answered.
  virtual std::optional<UpnpControlPoint> Discover(const std::string& gateway) = 0;
  // Discovery, then the whole table (kept), then the classification.
  virtual ServerMappingReading ClassifyServerMappings(const std::string& gateway,
                                                      const std::string& local_address) = 0;
  // Reads the table again and appends it to the kept list; false when the
  // gateway gave no usable entry count.
  virtual bool ReadMappings(const UpnpControlPoint& control) = 0;
  virtual std::vector<PortMapping> Mappings() const = 0;
  // Deletes every kept mapping of the server in `scope`, whatever PC it names
  // (the passive range goes with the FTP mapping).
  virtual void RemoveServerMappings(const UpnpControlPoint& control,
                                    ServerMappingScope scope = ServerMappingScope::kFtpAndHttp) = 0;
  virtual UpnpActionResult AddMapping(const UpnpControlPoint& control,
                                      const PortMapping& mapping) = 0;
  // Uses only the external port and the protocol.
  virtual UpnpActionResult DeleteMapping(const UpnpControlPoint& control,
                                         const PortMapping& mapping) = 0;
  // The router's WAN address (GetExternalIPAddress); nullopt without a usable answer.
  virtual std::optional<std::string> ExternalAddress(const UpnpControlPoint& control) = 0;
};

}  // namespace quarno
