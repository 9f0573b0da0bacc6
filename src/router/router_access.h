#pragma once
// The maker's router as a capability: the "/checkup" probe, the firmware
// version, the administrator credential check and the router-side DDNS
// setting, each with a typed result. The credential entered last is kept by
// a RouterCredential instance that the caller owns and passes in.
#include <mutex>
#include <optional>
#include <string>

namespace quarno {

// Results of the firmware version request.
enum class FirmwareStatus : int {
  kOk = 0,
  kNoSocket = -1,
  kNoConnection = -2,
  kReceiveFailed = -3,
};
struct FirmwareVersion {
  FirmwareStatus status = FirmwareStatus::kNoConnection;
  std::string version;  // trimmed, e.g. "8.34"; set with kOk
};

// Whether the router wants administrator credentials (the sysinfo request without them).
enum class PasswordQuestion : int {
  kExchangeFailed = -1,
  kNotNeeded = 0,
  kNeeded = 1,
};

// Notice lines of the credentials page.
enum class AdminNotice : int {
  kNoticeNone = 0,
  kNoticeEnterUser = 1,
  kNoticeEnterPassword = 2,
  kNoticeAuthFailed = 3,
  kNoticeCommError = 4,
};
using enum AdminNotice;
const char* AdminNoticeText(AdminNotice notice);

struct CredentialCheck {
  AdminNotice notice = kNoticeNone;  // what the page shows
  bool focus_user = false;           // focus the user-name field
  bool focus_password = false;       // focus the password field
  bool accepted = false;             // go on to the upgrade page
};

// The router administrator's credential (Base64 of "user:password"): the
// last pair entered, kept even when the router refused it. One per program;
// safe to read from the firmware upload's thread.
class RouterCredential {
 public:
  void Set(const std::string& credential);
  std::string Get() const;

 private:
  mutable std::mutex mutex_;
  std::string credential_;
};

// The router's DDNS setting: the host name is name "." suffix.
struct RouterDdnsSetting {
  std::string name;
  std::string email;
  std::string ftp_port;
  std::string http_port;
};

class RouterAccess {
 public:
  virtual ~RouterAccess() = default;
  // The "/checkup" probe: the model name (lower case, trimmed; empty when the
  // answer has no body) when the router answers "200 ok", else nullopt.
  virtual std::optional<std::string> Probe(const std::string& address) = 0;
  virtual FirmwareVersion Firmware(const std::string& address) = 0;
  virtual PasswordQuestion WantsPassword(const std::string& address) = 0;
  // Validates the fields, keeps the credential, asks the router with it.
  virtual CredentialCheck CheckCredentials(const std::string& address, const std::string& user,
                                           const std::string& password) = 0;
  // The router's answer (the text between "<body>" and "</body>" when both
  // are there, else the whole answer); nullopt when the exchange failed.
  virtual std::optional<std::string> SetDdns(const std::string& gateway,
                                             const RouterDdnsSetting& setting) = 0;
};

}  // namespace quarno
