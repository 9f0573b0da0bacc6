#include "ftpd/command.h"

namespace quarno::ftpd {
namespace {

bool ParseUint(std::string_view s, unsigned max, unsigned& value) {
  if (s.empty() || s.size() > 5) return false;
  unsigned v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > max) return false;
  value = v;
  return true;
}

}  // namespace

ParseResult ParseCommandLine(std::string_view line, Command& command) {
  std::string clean;
  clean.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == 0) return ParseResult::kNulByte;
    if (c != 0xFF) {
      clean.push_back(static_cast<char>(c));
      continue;
    }
    if (i + 1 >= line.size()) break;
    unsigned char op = static_cast<unsigned char>(line[i + 1]);
    if (op == 0xFF) {
      clean.push_back(static_cast<char>(0xFF));
      ++i;
    } else if (op >= 251 && op <= 254) {
      i += 2;  // WILL/WONT/DO/DONT carry an option byte
    } else {
      ++i;
    }
  }
  while (!clean.empty() && (clean.back() == '\r' || clean.back() == '\n')) clean.pop_back();
  size_t start = clean.find_first_not_of(' ');
  if (start == std::string::npos) return ParseResult::kEmpty;
  size_t space = clean.find(' ', start);
  std::string verb =
      clean.substr(start, space == std::string::npos ? std::string::npos : space - start);
  if (verb.size() < 3 || verb.size() > 4) return ParseResult::kBadVerb;
  for (char& c : verb) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
    else if (c < 'A' || c > 'Z')
      return ParseResult::kBadVerb;
  }
  command.verb = std::move(verb);
  command.arg = space == std::string::npos ? std::string() : clean.substr(space + 1);
  return ParseResult::kOk;
}

bool ParsePortArgument(std::string_view arg, std::array<uint8_t, 4>& ip, uint16_t& port) {
  unsigned v[6];
  int n = 0;
  size_t pos = 0;
  while (n < 6) {
    size_t comma = arg.find(',', pos);
    std::string_view part =
        arg.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    if (!ParseUint(part, 255, v[n])) return false;
    ++n;
    if (comma == std::string_view::npos) break;
    if (n == 6) return false;  // more than six numbers
    pos = comma + 1;
  }
  if (n != 6) return false;
  for (int i = 0; i < 4; ++i) ip[i] = static_cast<uint8_t>(v[i]);
  port = static_cast<uint16_t>(v[4] << 8 | v[5]);
  return true;
}

bool ParseEprtArgument(std::string_view arg, int& family, std::string& address, uint16_t& port) {
  if (arg.size() < 7) return false;
  char d = arg[0];
  if (d < 33 || d > 126) return false;
  if (arg.back() != d) return false;
  std::string_view body = arg.substr(1, arg.size() - 2);
  size_t a = body.find(d);
  if (a == std::string_view::npos) return false;
  size_t b = body.find(d, a + 1);
  if (b == std::string_view::npos || body.find(d, b + 1) != std::string_view::npos) return false;
  unsigned fam = 0, p = 0;
  if (!ParseUint(body.substr(0, a), 2, fam) || fam == 0) return false;
  if (!ParseUint(body.substr(b + 1), 65535, p) || p == 0) return false;
  std::string_view addr = body.substr(a + 1, b - a - 1);
  if (addr.empty() || addr.size() > 45) return false;
  family = static_cast<int>(fam);
  address.assign(addr);
  port = static_cast<uint16_t>(p);
  return true;
}

}  // namespace quarno::ftpd
