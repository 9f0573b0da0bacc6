#pragma once
// The server's option set: 62 named options, each a text or a 64-bit number.
// The configuration file's <Item> names and the admin option-set message use
// the same table.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarno::ftpd {

inline constexpr int kOptionCount = 62;

// 1-based positions of the options the daemon acts on.
enum OptionId : int {
  kOptServerports = 1,
  kOptMaxUsers = 3,
  kOptTimeout = 4,
  kOptNoTransferTimeout = 5,
  kOptLoginTimeout = 10,
  kOptCustomPasvIpType = 12,
  kOptCustomPasvIp = 13,
  kOptCustomPasvMinPort = 14,
  kOptCustomPasvMaxPort = 15,
  kOptWelcome = 16,
  kOptAdminPort = 17,
  kOptUseCustomPasvPorts = 33,
  kOptHideWelcome = 42,
};

struct OptionInfo {
  const char* name;
  bool is_text;
  bool local;  // only the configuration file may change it, never a remote admin
};

const OptionInfo& OptionTable(int id);  // id 1..62
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
