#pragma once
// The FTP server's option set (admin command 5, both directions); the table
// of names and types is admin_protocol.h's.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ftpctl/admin_protocol.h"

namespace quarno::ftpctl {

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
