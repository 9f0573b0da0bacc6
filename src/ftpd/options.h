#pragma once
// The server's option set: 62 named options, each a text or a 64-bit number.
// The configuration file's <Item> names and the admin option-set message use
// the same table, the one the admin client uses (ftpctl/admin_protocol.h).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "ftpctl/admin_protocol.h"

namespace quarno::ftpd {

using ftpctl::kOptionCount;

// 1-based positions of the options the daemon acts on.
enum OptionId : int {
  kOptServerports = ftpctl::OPTION_SERVERPORT,
  kOptMaxUsers = ftpctl::OPTION_MAXUSERS,
  kOptTimeout = ftpctl::OPTION_TIMEOUT,
  kOptNoTransferTimeout = ftpctl::OPTION_NOTRANSFERTIMEOUT,
  kOptLoginTimeout = ftpctl::OPTION_LOGINTIMEOUT,
  kOptCustomPasvIpType = ftpctl::OPTION_CUSTOMPASVIPTYPE,
  kOptCustomPasvIp = ftpctl::OPTION_CUSTOMPASVIP,
  kOptCustomPasvMinPort = ftpctl::OPTION_CUSTOMPASVMINPORT,
  kOptCustomPasvMaxPort = ftpctl::OPTION_CUSTOMPASVMAXPORT,
  kOptWelcome = ftpctl::OPTION_WELCOMEMESSAGE,
  kOptAdminPort = ftpctl::OPTION_ADMINPORT,
  kOptUseCustomPasvPorts = ftpctl::OPTION_USECUSTOMPASVPORT,
  kOptHideWelcome = ftpctl::OPTION_WELCOMEMESSAGE_HIDE,
};

using OptionInfo = ftpctl::OptionDef;

const OptionInfo& OptionTable(int id);  // id 1..62
inline bool IsTextOption(int id) { return OptionTable(id).type == ftpctl::OptionType::kString; }
int FindOption(std::string_view name);  // 0 when unknown

struct OptionValue {
  bool is_text = false;
  std::string text;
  int64_t number = 0;
};

class GeneralOptions {
 public:
  GeneralOptions();
  const std::string& Text(int id) const { return values_[id - 1].text; }
  int64_t Number(int id) const { return values_[id - 1].number; }
  void SetText(int id, std::string value) { values_[id - 1].text = std::move(value); }
  void SetNumber(int id, int64_t value) { values_[id - 1].number = value; }
  OptionValue& At(int id) { return values_[id - 1]; }
  const OptionValue& At(int id) const { return values_[id - 1]; }

 private:
  std::array<OptionValue, kOptionCount> values_;
};

}  // namespace quarno::ftpd
