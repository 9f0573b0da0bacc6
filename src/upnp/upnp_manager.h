#pragma once
// UPnP Internet Gateway Device client: unicast SSDP discovery of the
// gateway's WANIPConnection:1 service, the four SOAP actions, and the
// server's view of the port-mapping table.
//
//   quarno::CUPnPManager upnp;                 // or CUPnPManager(UpnpOptions::ForBootup())
//   quarno::MappingOwner owner;                // keeps control URL, port, server ports
//   int kind = upnp.ClassifyServerMapping(gateway, local_address, owner);
//   quarno::CPortMappingContainer ftp = quarno::ServerMapping(
//       quarno::kFtpMappingDescription, 2121, local_address);
//   int rc = ftp.AddPortMapping(gateway, std::stoi(owner.upnp_port), owner.control_url);
//   if (rc != 0) { /* failed: UPnP error code, or kUpnpNoAnswer */ }
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/endpoints.h"
#include "net/peer_exchange.h"
#include "upnp/port_mapper.h"

namespace quarno {

struct UpnpOptions {
  Program program = Program::kServer;
  uint16_t ssdp_port = endpoints::kSsdpPort;
  std::chrono::milliseconds ssdp_timeout{15000};
  std::chrono::milliseconds connect_timeout{10000};
  // 15 s in Quarno_Server, 10 ms in Quarno_Bootup_Service.
  std::chrono::milliseconds receive_timeout{15000};
  std::size_t chunk_size = 1024;

  static UpnpOptions ForBootup() {
    UpnpOptions options;
    options.program = Program::kBootup;
    options.receive_timeout = std::chrono::milliseconds(10);
    return options;
  }
};

// One port mapping as the router lists it and as the actions send it.
class CPortMappingContainer : public PortMapping {
 public:
  CPortMappingContainer() = default;
  explicit CPortMappingContainer(const PortMapping& mapping) : PortMapping(mapping) {}
  CPortMappingContainer(const CPortMappingContainer&) = default;
  CPortMappingContainer& operator=(const CPortMappingContainer&) = default;
  virtual ~CPortMappingContainer() = default;

  // 0 on success, the router's UPnP error code (e.g. 718), or kUpnpNoAnswer.
  int AddPortMapping(const std::string& gateway, int port, const std::string& control_url,
                     const UpnpOptions& options = {}) const;
  // Uses only the external port and the protocol; results as AddPortMapping.
  int DeletePortMapping(const std::string& gateway, int port, const std::string& control_url,
                        const UpnpOptions& options = {}) const;
};

// The server's own mapping: external = internal port, "TCP", enabled "1".
CPortMappingContainer ServerMapping(const std::string& description, int port,
                                    const std::string& local_address);

// The discovery results and server ports that ClassifyServerMapping keeps in
// its owner (the main window, or the boot-time launcher).
struct MappingOwner {
  std::string control_url;
  std::string upnp_port;  // decimal text
  std::string ftp_port;   // external port of the server's FTP mapping
  std::string http_port;  // external port of the server's HTTP mapping of this PC
};

class CUPnPManager {
 public:
  explicit CUPnPManager(UpnpOptions options = {});
  virtual ~CUPnPManager();

  // Unicast SSDP search to the gateway, then the device description. On
  // success `port` is non-zero and `control_url` non-empty.
  void DiscoverGateway(const std::string& gateway, std::string& control_url, int& port);
  // Second half of discovery, from the SSDP answer on.
  void ReadDeviceDescription(const std::string& answer, const std::string& gateway, int& port,
                             std::string& control_url);

  // Number of mappings, or -1.
  int GetMappingEntryNumbers(const std::string& gateway, int port, const std::string& control_url);
  // The whole response (header and body); empty when the exchange failed.
  std::string GetGenericPortMappingEntry(const std::string& gateway, int port,
                                         const std::string& control_url, int index);

  // Appends every entry in index order; 0, or -1 when the count is unknown or < 1.
  int ListPortMappings(const std::string& gateway, int port, const std::string& control_url);
  // Discovery + table (kept) + classification of the last "Quarno_Server_FTP" entry.
  ServerMappingReading ReadServerMappings(const std::string& gateway,
                                          const std::string& local_address);
  // The same, with the control point and the ports written into `owner`.
  MappingClass ClassifyServerMapping(const std::string& gateway, const std::string& local_address,
                                     MappingOwner& owner);
  // The gateway's WAN address, dotted; nullopt without a usable answer.
  std::optional<std::string> GetExternalIpAddress(const std::string& gateway, int port,
                                                  const std::string& control_url);
  // DeletePortMapping for every listed server mapping (the passive range
  // with the FTP mapping), whatever PC it names.
  void RemoveServerMappings(const std::string& gateway, int port, const std::string& control_url,
                            ServerMappingScope scope = ServerMappingScope::kFtpAndHttp);

  std::vector<CPortMappingContainer>& Mappings() { return mappings_; }
  const std::vector<CPortMappingContainer>& Mappings() const { return mappings_; }
  const UpnpOptions& Options() const { return options_; }
  UpnpOptions& MutableOptions() { return options_; }

 private:
  void ReadTable(const std::string& gateway, int port, const std::string& control_url, int count);

  UpnpOptions options_;
  std::vector<CPortMappingContainer> mappings_;
};

// The port mapper over the UPnP client; keeps the client's list of mappings.
class UpnpPortMapper final : public PortMapper {
 public:
  explicit UpnpPortMapper(UpnpOptions options = {});
  std::optional<UpnpControlPoint> Discover(const std::string& gateway) override;
  ServerMappingReading ClassifyServerMappings(const std::string& gateway,
                                              const std::string& local_address) override;
  bool ReadMappings(const UpnpControlPoint& control) override;
  std::vector<PortMapping> Mappings() const override;
  void RemoveServerMappings(const UpnpControlPoint& control, ServerMappingScope scope) override;
  UpnpActionResult AddMapping(const UpnpControlPoint& control, const PortMapping& mapping) override;
  UpnpActionResult DeleteMapping(const UpnpControlPoint& control,
                                 const PortMapping& mapping) override;
  std::optional<std::string> ExternalAddress(const UpnpControlPoint& control) override;
  CUPnPManager& Client() { return client_; }

 private:
  CUPnPManager client_;
};

// One request, one response over a fresh connection; the response (header
// included) or empty when nothing was received. A failed receive after the
// first chunk keeps what arrived.
std::string SendControlRequest(const std::string& gateway, const std::string& request, int port,
                               const UpnpOptions& options = {});

// --- Request texts (exact bytes) ---
std::string SsdpSearchRequest();
std::string DescriptionRequest(const std::string& path);
std::string QueryStateVariableBody();
std::string GetGenericPortMappingEntryBody(int index);
std::string AddPortMappingBody(const CPortMappingContainer& mapping);
std::string DeletePortMappingBody(const CPortMappingContainer& mapping);
std::string GetExternalIpAddressBody();
enum class UpnpAction {
  kQueryStateVariable,
  kGetGenericPortMappingEntry,
  kAddPortMapping,
  kDeletePortMapping,
  kGetExternalIpAddress,
};
std::string ControlRequest(UpnpAction action, const std::string& control_url,
                           const std::string& gateway, int port, const std::string& body);

// --- Answer parsers (no network; fuzzed) ---
// Port and path of the SSDP answer's location URL; port 0 when missing.
int ParseSsdpLocation(std::string_view answer, std::string& path);
// controlURL of the last WANIPConnection:1 service found by the walk; empty if none.
std::string FindWanIpControlUrl(std::string_view description_response);
// Value of "return" in a QueryStateVariable answer, or -1.
int ParseEntryCount(std::string_view response);
std::optional<CPortMappingContainer> ParseMappingEntry(std::string_view response);
// NewExternalIPAddress of a 200 answer when it is a dotted IPv4 address other than 0.0.0.0.
std::optional<std::string> ParseExternalIpAddress(std::string_view response);
// 0 for "HTTP/1.1 200 OK", the errorCode value, or kUpnpNoAnswer.
int ParseActionResult(std::string_view response);

}  // namespace quarno
