#include "core/settings_store.h"

#include "core/settings.h"

namespace quarno {

std::optional<std::string> KeySettingsStore::Read(std::string_view name) {
  std::string value;
  if (!ReadSetting(name, value)) return std::nullopt;
  return value;
}

bool KeySettingsStore::Write(std::string_view name, std::string_view value) {
  return WriteSetting(name, value);
}

bool KeySettingsStore::WriteRegistration(const StoredRegistration& registration) {
  return quarno::WriteRegistration(registration.name, registration.email, registration.ftp_port,
                                   registration.http_port);
}

bool KeySettingsStore::WriteAccount(const StoredAccount& account) {
  return quarno::WriteAccount(account.user, account.password, account.shared_folder,
                              account.charset);
}

bool KeySettingsStore::Remove(std::string_view name) { return DeleteSetting(name); }

}  // namespace quarno
