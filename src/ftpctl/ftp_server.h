#pragma once
// The FTP server program (quarno-ftpd) as a supervised service: where it and
// its configuration file lie, the two configuration-file writers, starting,
// stopping and the control codes.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ftpctl/admin_protocol.h"
#include "ftpctl/ftp_server_control.h"
#include "platform/netinfo.h"
#include "platform/service_manager.h"

namespace quarno::ftpctl {

inline constexpr char kFtpServiceName[] = "Quarno_Server";
inline constexpr char kFtpServiceDisplayName[] = "Quarno Server ftp";
inline constexpr char kFtpServerExecutable[] = "quarno-ftpd";
inline constexpr char kFtpConfigFileName[] = "FileZilla Server.xml";

inline constexpr uint16_t kAdminPortLow = 30000;
inline constexpr uint16_t kAdminPortHigh = 35000;

// ProgramFolder()/quarno-ftpd
std::string FtpServerExecutablePath();
// WritableFolder()/FileZilla Server.xml
std::string FtpConfigFilePath();

// Text and attribute values for the configuration file; ordinary values pass
// unchanged.
std::string XmlEscape(std::string_view text);

std::string MinimalFtpServerConfig(uint16_t admin_port);
// The file that closes the FTP port: only "Serverports" 0.
std::string PortClosedFtpServerConfig();
// Boot-up service: replaces the file with the port-closed form.
bool WriteFtpPortClosedConfig();

struct FtpAccountValues {
  std::string user;
  std::string password;  // plain; the file carries its hash
  std::string shared_folder;
  int ftp_port = 21;
  platform::MacAddress router_mac{};
  PassiveMode passive;
};

// The full configuration file text (one line break, after "User Limit"); the
// passive items come last, only when passive mode is configured.
std::string BuildFtpServerConfig(const FtpAccountValues& account, std::string_view home_folder,
                                 std::string_view share_path, uint16_t admin_port);

// Main program: finds the executable (false when it is missing; nothing else
// is touched), rewrites the minimal file with a newly chosen admin port.
bool PrepareFtpServer(std::string& ftp_server_path, uint16_t& admin_port);

// Boot-up service: home folder, share link (named by share::LinkName, as the
// main program names it), full file with a newly chosen admin port (returned
// through `admin_port`, also when the file cannot be written). False, with a
// log line, when the home folder, the link name or the file fails.
bool WriteFtpServerConfig(const FtpAccountValues& account, uint16_t& admin_port);

// Makes sure the service exists with `ftp_server_path` as its program, stops
// it if it runs, starts it and waits until it runs. Every wait is bounded by
// `wait_limit`; a wait that runs out is a failure.
bool StartFtpService(platform::ServiceManager& manager, const std::string& ftp_server_path,
                     std::chrono::milliseconds wait_limit = std::chrono::seconds(60));
// Asks the service to stop when it is not stopped; does not wait.
void StopFtpService(platform::ServiceManager& manager);
bool SendFtpControl(platform::ServiceManager& manager, int code,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The FTP server control over the functions above and a service manager.
class ServiceFtpServerControl final : public FtpServerControl {
 public:
  explicit ServiceFtpServerControl(
      std::unique_ptr<platform::ServiceManager> manager,
      std::chrono::milliseconds control_timeout = std::chrono::seconds(10),
      std::chrono::milliseconds start_wait = std::chrono::seconds(60));
  bool ServiceExists() override;
  platform::ServiceState QueryService() override;
  bool Control(ControlCode code) override;
  bool WritePortClosedConfig() override;
  FtpConfigResult WriteServerConfig(const FtpServerAccount& account,
                                    const platform::MacAddress& router_mac, int ftp_port,
                                    const PassiveMode& passive) override;
  std::optional<PreparedFtpServer> Prepare() override;
  bool StartService(const std::string& executable) override;
  void StopService() override;

 private:
  std::unique_ptr<platform::ServiceManager> manager_;
  std::chrono::milliseconds control_timeout_;
  std::chrono::milliseconds start_wait_;
};

}  // namespace quarno::ftpctl
