#pragma once
// The FTP server's option set (admin command 5, both directions).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarno::ftpctl {

enum class OptionType : uint8_t { kString = 0, kNumeric = 1 };

struct OptionDef {
  const char* name;  // also the item name in the configuration file
  OptionType type;
  bool local;  // never meant to be changed remotely
};

inline constexpr int kOptionCount = 62;

// Option numbers, 1-based as on the wire.
enum Option : int {
  OPTION_SERVERPORT = 1,
  OPTION_THREADNUM,
  OPTION_MAXUSERS,
  OPTION_TIMEOUT,
  OPTION_NOTRANSFERTIMEOUT,
  OPTION_INFXP,
  OPTION_OUTFXP,
  OPTION_NOINFXPSTRICT,
  OPTION_NOOUTFXPSTRICT,
  OPTION_LOGINTIMEOUT,
  OPTION_LOGSHOWPASS,
  OPTION_CUSTOMPASVIPTYPE,
  OPTION_CUSTOMPASVIP,
  OPTION_CUSTOMPASVMINPORT,
  OPTION_CUSTOMPASVMAXPORT,
  OPTION_WELCOMEMESSAGE,
  OPTION_ADMINPORT,
  OPTION_ADMINPASS,
  OPTION_ADMINIPBINDINGS,
  OPTION_ADMINIPADDRESSES,
  OPTION_ENABLELOGGING,
  OPTION_LOGLIMITSIZE,
  OPTION_LOGTYPE,
  OPTION_LOGDELETETIME,
  OPTION_USEGSS,
  OPTION_GSSPROMPTPASSWORD,
  OPTION_DOWNLOADSPEEDLIMITTYPE,
  OPTION_UPLOADSPEEDLIMITTYPE,
  OPTION_DOWNLOADSPEEDLIMIT,
  OPTION_UPLOADSPEEDLIMIT,
  OPTION_BUFFERSIZE,
  OPTION_CUSTOMPASVIPSERVER,
  OPTION_USECUSTOMPASVPORT,
  OPTION_MODEZ_USE,
  OPTION_MODEZ_LEVELMIN,
  OPTION_MODEZ_LEVELMAX,
  OPTION_MODEZ_ALLOWLOCAL,
  OPTION_MODEZ_DISALLOWED_IPS,
  OPTION_IPBINDINGS,
  OPTION_IPFILTER_ALLOWED,
  OPTION_IPFILTER_DISALLOWED,
  OPTION_WELCOMEMESSAGE_HIDE,
  OPTION_ENABLESSL,
  OPTION_ALLOWEXPLICITSSL,
  OPTION_SSLKEYFILE,
  OPTION_SSLCERTFILE,
  OPTION_SSLPORTS,
  OPTION_SSLFORCEEXPLICIT,
  OPTION_BUFFERSIZE2,
  OPTION_FORCEPROTP,
  OPTION_SSLKEYPASS,
  OPTION_SHAREDWRITE,
  OPTION_NOEXTERNALIPONLOCAL,
  OPTION_ACTIVE_IGNORELOCAL,
  OPTION_AUTOBAN_ENABLE,
  OPTION_AUTOBAN_ATTEMPTS,
  OPTION_AUTOBAN_TYPE,
  OPTION_AUTOBAN_BANTIME,
  OPTION_SERVICE_NAME,
  OPTION_SERVICE_DISPLAY_NAME,
  OPTION_ENABLE_HASH,
  OPTION_DISABLE_IPV6,
};
static_assert(OPTION_DISABLE_IPV6 == kOptionCount);

// Definition of option `number` (1..62); nullptr outside that range.
const OptionDef* OptionDefinition(int number);
// 1-based number of the option with this item name, 0 when unknown.
int OptionNumber(const std::string& name);

class CGeneralOption {
 public:
  CGeneralOption();

  // Out-of-range numbers are ignored (setters) or read as empty / 0.
  void SetText(int number, std::string text);
  void SetNumber(int number, int64_t value);
  const std::string& Text(int number) const;
  int64_t Number(int number) const;
  OptionType Type(int number) const;

  // Count 62, the options in table order, 4 zero bytes. A text that is not
  // valid UTF-8 is sent empty; nullopt when one is longer than 0xFFFFFF bytes.
  std::optional<std::vector<uint8_t>> Serialize() const;
  // Replaces every value from a payload; on failure the object is unchanged.
  // Bytes after the 62nd option are ignored.
  bool Parse(const uint8_t* data, std::size_t length);

 private:
  struct Value {
    OptionType type = OptionType::kString;
    std::string text;
    int64_t number = 0;
  };
  std::array<Value, kOptionCount> values_;
};

}  // namespace quarno::ftpctl
