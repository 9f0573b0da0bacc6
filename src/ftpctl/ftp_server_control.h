#pragma once
// The FTP server program (quarno-ftpd) as a supervised service, as a
// capability: its configuration file, its control codes and its service.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/settings_store.h"
#include "ftpctl/admin_protocol.h"
#include "platform/netinfo.h"
#include "platform/service_manager.h"

namespace quarno::ftpctl {

// The values the full configuration file is built from (the file does not
// carry the charset; the password goes in as its hash).
using FtpServerAccount = StoredAccount;

// Passive data connections from the Internet: the port range mapped on the
// router and the router's WAN address, which clients outside the LAN are
// told to connect to.
struct PassiveMode {
  int low_port = 0;  // 0: not configured, and the file carries no passive items
  int high_port = 0;
  std::string external_address;  // empty: every client gets the LAN address
  bool configured() const { return low_port > 0 && high_port >= low_port; }
};

struct FtpConfigResult {
  bool written = false;
  // Chosen anew for every file, also when the file could not be written; 0
  // when no port of the admin range was free.
  uint16_t admin_port = 0;
};

struct PreparedFtpServer {
  std::string executable;
  uint16_t admin_port = 0;
};

class FtpServerControl {
 public:
  virtual ~FtpServerControl() = default;
  virtual bool ServiceExists() = 0;
  virtual platform::ServiceState QueryService() = 0;
  // False ("control failed") when the code could not be delivered.
  [[nodiscard]] virtual bool Control(ControlCode code) = 0;
  // The configuration file with only "Serverports" 0: the FTP port closed.
  [[nodiscard]] virtual bool WritePortClosedConfig() = 0;
  // Home folder, share link and the full configuration file.
  virtual FtpConfigResult WriteServerConfig(const FtpServerAccount& account,
                                            const platform::MacAddress& router_mac, int ftp_port,
                                            const PassiveMode& passive) = 0;
  // Finds the executable and writes the minimal file with a new admin port;
  // nullopt (nothing touched) when the executable is missing.
  virtual std::optional<PreparedFtpServer> Prepare() = 0;
  // Creates or updates the service, restarts it and waits until it runs.
  [[nodiscard]] virtual bool StartService(const std::string& executable) = 0;
  // Asks a running service to stop; does not wait.
  virtual void StopService() = 0;
};

}  // namespace quarno::ftpctl
