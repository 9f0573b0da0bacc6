#include "ftpctl/general_option.h"

#include <cstring>

#include "ftpctl/net_text.h"

namespace quarno::ftpctl {
namespace {

constexpr OptionType S = OptionType::kString;
constexpr OptionType N = OptionType::kNumeric;

constexpr OptionDef kOptions[kOptionCount] = {
    {"Serverports", S, false},
    {"Number of Threads", N, false},
    {"Maximum user count", N, false},
    {"Timeout", N, false},
    {"No Transfer Timeout", N, false},
    {"Allow Incoming FXP", N, false},
    {"Allow outgoing FXP", N, false},
    {"No Strict In FXP", N, false},
    {"No Strict Out FXP", N, false},
    {"Login Timeout", N, false},
    {"Show Pass in Log", N, false},
    {"Custom PASV IP type", N, false},
    {"Custom PASV IP", S, false},
    {"Custom PASV min port", N, false},
    {"Custom PASV max port", N, false},
    {"Initial Welcome Message", S, false},
    {"Admin port", N, true},
    {"Admin Password", S, true},
    {"Admin IP Bindings", S, true},
    {"Admin IP Addresses", S, true},
    {"Enable logging", N, false},
    {"Logsize limit", N, false},
    {"Logfile type", N, false},
    {"Logfile delete time", N, false},
    {"Use GSS Support", N, false},
    {"GSS Prompt for Password", N, false},
    {"Download Speedlimit Type", N, false},
    {"Upload Speedlimit Type", N, false},
    {"Download Speedlimit", N, false},
    {"Upload Speedlimit", N, false},
    {"Buffer Size", N, false},
    {"Custom PASV IP server", S, false},
    {"Use custom PASV ports", N, false},
    {"Mode Z Use", N, false},
    {"Mode Z min level", N, false},
    {"Mode Z max level", N, false},
    {"Mode Z allow local", N, false},
    {"Mode Z disallowed IPs", S, false},
    {"IP Bindings", S, false},
    {"IP Filter Allowed", S, false},
    {"IP Filter Disallowed", S, false},
    {"Hide Welcome Message", N, false},
    {"Enable SSL", N, false},
    {"Allow explicit SSL", N, false},
    {"SSL Key file", S, false},
    {"SSL Certificate file", S, false},
    {"Implicit SSL ports", S, false},
    {"Force explicit SSL", N, false},
    {"Network Buffer Size", N, false},
    {"Force PROT P", N, false},
    {"SSL Key Password", S, false},
    {"Allow shared write", N, false},
    {"No External IP On Local", N, false},
    {"Active ignore local", N, false},
    {"Autoban enable", N, false},
    {"Autoban attempts", N, false},
    {"Autoban type", N, false},
    {"Autoban time", N, false},
    {"Service name", S, true},
    {"Service display name", S, true},
    {"Enable HASH", N, false},
    {"Disable IPv6", N, false},
};

constexpr std::size_t kMaxText = 0xFFFFFF;

bool Valid(int number) { return number >= 1 && number <= kOptionCount; }

}  // namespace

const OptionDef* OptionDefinition(int number) {
  return Valid(number) ? &kOptions[number - 1] : nullptr;
}

int OptionNumber(const std::string& name) {
  for (int i = 0; i < kOptionCount; ++i) {
    if (name == kOptions[i].name) return i + 1;
  }
  return 0;
}

CGeneralOption::CGeneralOption() {
  for (int i = 0; i < kOptionCount; ++i) values_[i].type = kOptions[i].type;
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
    if (kOptions[i].type == OptionType::kNumeric) {
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
    if (kOptions[i].type == OptionType::kNumeric) {
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
