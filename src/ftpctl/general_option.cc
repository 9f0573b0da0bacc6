#include "ftpctl/general_option.h"

#include <cstring>

#include "ftpctl/net_text.h"

namespace quarno::ftpctl {
namespace {

constexpr std::size_t kMaxText = 0xFFFFFF;

bool Valid(int number) { return number >= 1 && number <= kOptionCount; }

}  // namespace

const OptionDef* OptionDefinition(int number) {
  return Valid(number) ? &kOptionTable[number - 1] : nullptr;
}

int OptionNumber(const std::string& name) {
  for (int i = 0; i < kOptionCount; ++i) {
    if (name == kOptionTable[i].name) return i + 1;
  }
  return 0;
}

CGeneralOption::CGeneralOption() {
  for (int i = 0; i < kOptionCount; ++i) values_[i].type = kOptionTable[i].type;
}

void CGeneralOption::SetText(int number, std::string text) {
  if (Valid(number)) values_[number - 1].text = std::move(text);
}

void CGeneralOption::SetNumber(int number, int64_t value) {
  if (Valid(number)) values_[number - 1].number = value;
}

const std::string& CGeneralOption::Text(int number) const {
  static const std::string kEmpty;
  return Valid(number) ? values_[number - 1].text : kEmpty;
}

int64_t CGeneralOption::Number(int number) const {
  return Valid(number) ? values_[number - 1].number : 0;
}

OptionType CGeneralOption::Type(int number) const {
  return Valid(number) ? values_[number - 1].type : OptionType::kString;
}

std::optional<std::vector<uint8_t>> CGeneralOption::Serialize() const {
  std::array<std::string, kOptionCount> wire;
  std::size_t size = 2;
  for (int i = 0; i < kOptionCount; ++i) {
    if (kOptionTable[i].type == OptionType::kNumeric) {
      size += 9;
      continue;
    }
    // A text without a UTF-8 form travels empty; one too long for the
    // 24-bit length fails the whole set.
    if (!TextToNetwork(values_[i].text, wire[i])) wire[i].clear();
    if (wire[i].size() > kMaxText) return std::nullopt;
    size += 4 + wire[i].size();
  }
  size += 4;

  std::vector<uint8_t> out;
  out.reserve(size);
  out.push_back(0);
  out.push_back(kOptionCount);
  for (int i = 0; i < kOptionCount; ++i) {
    if (kOptionTable[i].type == OptionType::kNumeric) {
      out.push_back(1);
      auto v = uint64_t(values_[i].number);
      for (int b = 0; b < 8; ++b) out.push_back(uint8_t(v >> (8 * b)));
    } else {
      std::size_t n = wire[i].size();
      out.push_back(0);
      out.push_back(uint8_t(n >> 16));
      out.push_back(uint8_t(n >> 8));
      out.push_back(uint8_t(n));
      out.insert(out.end(), wire[i].begin(), wire[i].end());
    }
  }
  out.insert(out.end(), 4, 0);
  return out;
}

bool CGeneralOption::Parse(const uint8_t* data, std::size_t length) {
  if (!data || length < 2) return false;
  if ((data[0] << 8 | data[1]) != kOptionCount) return false;
  std::array<Value, kOptionCount> parsed;
  std::size_t pos = 2;
  for (int i = 0; i < kOptionCount; ++i) {
    if (pos >= length) return false;
    uint8_t type = data[pos++];
    if (type == 1) {
      if (length - pos < 8) return false;
      uint64_t v = 0;
      for (int b = 0; b < 8; ++b) v |= uint64_t(data[pos + b]) << (8 * b);
      pos += 8;
      parsed[i].type = OptionType::kNumeric;
      parsed[i].number = int64_t(v);
    } else if (type == 0) {
      if (length - pos < 3) return false;
      std::size_t n = std::size_t(data[pos]) << 16 | std::size_t(data[pos + 1]) << 8 | data[pos + 2];
      pos += 3;
      if (length - pos < n) return false;
      parsed[i].type = OptionType::kString;
      parsed[i].text =
          NetworkToText(std::string_view(reinterpret_cast<const char*>(data + pos), n));
      pos += n;
    } else {
      return false;
    }
  }
  values_ = std::move(parsed);
  return true;
}

}  // namespace quarno::ftpctl
