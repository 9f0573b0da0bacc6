#pragma once
// The settings key "software\Quarno_Server\Server_Info", shared by both
// programs. Values keep the names and texts of the original registry values.
#include <string>
#include <string_view>

namespace quarno::platform { class KeyStore; }

namespace quarno {

inline constexpr char kSettingsKey[] = "software\\Quarno_Server\\Server_Info";

namespace setting {
inline constexpr char kQuarno[] = "Quarno";
inline constexpr char kEmail[] = "email";
inline constexpr char kFtpPort[] = "Ftp_Port";
inline constexpr char kHttpPort[] = "Http_Port";
inline constexpr char kFtpUser[] = "Ftp_user";
inline constexpr char kFtpPassword[] = "Ftp_password";
inline constexpr char kFtpSharedFolder[] = "Ftp_sharedfolder";
inline constexpr char kFtpCharset[] = "Ftp_charset";
inline constexpr char kTrayExecution[] = "tray_execution";
inline constexpr char kAdminPort[] = "ADMIN_PORT";
inline constexpr char kBootHttp[] = "BOOT_HTTP";
// "1": the share is read over HTTP without credentials, as the design had it.
inline constexpr char kHttpOpen[] = "Http_open";
// "1": FTP clients must encrypt (AUTH TLS, PROT P); plain clients are refused.
inline constexpr char kFtpForceTls[] = "Ftp_force_tls";
inline constexpr char kMac[] = "MAC";
}  // namespace setting

// On failure the result is false and `value` is left as it was, so callers
// put their default there first.
bool ReadSetting(std::string_view name, std::string& value);
// Quarno, email, Ftp_Port, Http_Port.
bool WriteRegistration(std::string_view host, std::string_view email, std::string_view ftp_port,
                       std::string_view http_port);
// Ftp_user, Ftp_password, Ftp_sharedfolder, Ftp_charset.
bool WriteAccount(std::string_view user, std::string_view password, std::string_view folder,
                  std::string_view charset);
bool WriteSetting(std::string_view name, std::string_view value);
bool DeleteSetting(std::string_view name);

// The store behind the functions above: a FileKeyStore under ConfigFolder()
// unless a test installs another (pass nullptr to restore the default).
platform::KeyStore& SettingsKeyStore();
void SetSettingsStoreForTesting(platform::KeyStore* store);

}  // namespace quarno
