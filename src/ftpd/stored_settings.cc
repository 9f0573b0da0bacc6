#include "ftpd/stored_settings.h"

#include <cstdlib>
#include <string>

#include "core/settings.h"

namespace quarno::ftpd {

CharsetProvider StoredFtpCharset() {
  return []() -> std::optional<std::string> {
    std::string charset;
    if (!ReadSetting(setting::kFtpCharset, charset)) return std::nullopt;
    return charset;
  };
}

MacProvider StoredRouterMac() {
  return [] {
    std::string tail;
    std::array<uint8_t, 6> mac{};
    if (ReadSetting(setting::kMac, tail) && tail.size() == 6) {
      for (size_t i = 0; i < 3; ++i) {
        char* end = nullptr;
        const std::string byte = tail.substr(2 * i, 2);
        const unsigned long v = std::strtoul(byte.c_str(), &end, 16);
        if (end && *end == '\0') mac[3 + i] = static_cast<uint8_t>(v);
      }
    }
    return mac;
  };
}

}  // namespace quarno::ftpd
