#pragma once
// Built-in configuration: the maker's server names, the DDNS domain suffix and
// the DDNS service credential. The program has no configuration file; every
// client still takes its peer address and port from its caller, so tests and
// the lab point these at simulators.
#include <cstdint>

namespace quarno::endpoints {

// DDNS registration server: host name (resolved once by the owner of the
// client), the value of its Host header, and its port.
inline constexpr char kDdnsServerHost[] = "ddns.ralmek.co.kr";
inline constexpr uint16_t kDdnsServerPort = 80;
// A registered name becomes "<name>." + kDdnsDomainSuffix.
inline constexpr char kDdnsDomainSuffix[] = "quarno.ralmek.co.kr";
// HTTP Basic credential of the registration script (already Base64).
inline constexpr char kDdnsCredential[] = "Tq7mRw2LxK9vNc4HbZ8sYp3D";
inline constexpr char kDdnsScriptPath[] = "/quarno_ddns/ddns_main.php";

// Firmware information and firmware files ("/online_upgrade/<model>.version",
// "/online_upgrade/<file>.bin").
inline constexpr char kFirmwareHost[] = "firmware.ralmek.co.kr";
// Program version file and setup program.
inline constexpr char kDownloadHost[] = "download.ralmek.co.kr";

// The router answers on this port of the gateway address.
inline constexpr uint16_t kRouterHttpPort = 80;
// SSDP port of the gateway for the unicast search.
inline constexpr uint16_t kSsdpPort = 1900;

}  // namespace quarno::endpoints
