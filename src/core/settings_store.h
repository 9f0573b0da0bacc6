#pragma once
// The settings key as a capability: callers that must run against a scripted
// store in tests (the boot launcher, the desktop workflows) take this instead
// of the free functions of settings.h.
#include <optional>
#include <string>
#include <string_view>

namespace quarno {

// The four values a registration stores together: Quarno, email, Ftp_Port, Http_Port.
struct StoredRegistration {
  std::string name;
  std::string email;
  std::string ftp_port;
  std::string http_port;
};

// The FTP account values: Ftp_user, Ftp_password, Ftp_sharedfolder, Ftp_charset.
struct StoredAccount {
  std::string user;
  std::string password;  // plain
  std::string shared_folder;
  std::string charset;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // nullopt when the value is missing or the store cannot be read.
  virtual std::optional<std::string> Read(std::string_view name) = 0;
  [[nodiscard]] virtual bool Write(std::string_view name, std::string_view value) = 0;
  // The four values in one replacement of the key.
  [[nodiscard]] virtual bool WriteRegistration(const StoredRegistration& registration) = 0;
  [[nodiscard]] virtual bool WriteAccount(const StoredAccount& account) = 0;
  [[nodiscard]] virtual bool Remove(std::string_view name) = 0;
};

// The settings key of both programs (settings.h).
class KeySettingsStore final : public SettingsStore {
 public:
  std::optional<std::string> Read(std::string_view name) override;
  bool Write(std::string_view name, std::string_view value) override;
  bool WriteRegistration(const StoredRegistration& registration) override;
  bool WriteAccount(const StoredAccount& account) override;
  bool Remove(std::string_view name) override;
};

}  // namespace quarno
