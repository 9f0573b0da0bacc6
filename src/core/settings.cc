#include "core/settings.h"

#include <atomic>
#include <string>

#include "platform/key_store.h"
#include "platform/paths.h"

namespace quarno {
namespace {

// Follows ConfigFolder() on every call, so the folder is whatever the
// environment says at the time (tests relocate it per test).
class DefaultStore final : public platform::KeyStore {
 public:
  bool Read(std::string_view key, std::string_view name, std::string& value) override {
    return Store().Read(key, name, value);
  }
  bool Write(std::string_view key,
             const std::vector<std::pair<std::string, std::string>>& values) override {
    return Store().Write(key, values);
  }
  bool Remove(std::string_view key, std::string_view name) override {
    return Store().Remove(key, name);
  }

 private:
  static platform::FileKeyStore Store() { return platform::FileKeyStore(platform::ConfigFolder()); }
};

DefaultStore g_default_store;
std::atomic<platform::KeyStore*> g_store{nullptr};

}  // namespace

platform::KeyStore& SettingsKeyStore() {
  platform::KeyStore* store = g_store.load();
  return store ? *store : g_default_store;
}

void SetSettingsStoreForTesting(platform::KeyStore* store) { g_store.store(store); }

bool ReadSetting(std::string_view name, std::string& value) {
  return SettingsKeyStore().Read(kSettingsKey, name, value);
}

// The values of one call land in one atomic replace: after a crash either all
// four are there or none of them changed.
bool WriteRegistration(std::string_view host, std::string_view email, std::string_view ftp_port,
                       std::string_view http_port) {
  return SettingsKeyStore().Write(kSettingsKey, {{setting::kQuarno, std::string(host)},
                                              {setting::kEmail, std::string(email)},
                                              {setting::kFtpPort, std::string(ftp_port)},
                                              {setting::kHttpPort, std::string(http_port)}});
}

bool WriteAccount(std::string_view user, std::string_view password, std::string_view folder,
                  std::string_view charset) {
  return SettingsKeyStore().Write(kSettingsKey, {{setting::kFtpUser, std::string(user)},
                                              {setting::kFtpPassword, std::string(password)},
                                              {setting::kFtpSharedFolder, std::string(folder)},
                                              {setting::kFtpCharset, std::string(charset)}});
}

bool WriteSetting(std::string_view name, std::string_view value) {
  return SettingsKeyStore().Write(kSettingsKey, {{std::string(name), std::string(value)}});
}

bool DeleteSetting(std::string_view name) { return SettingsKeyStore().Remove(kSettingsKey, name); }

}  // namespace quarno
