#include "update/version.h"

#include <cctype>
#include <charconv>
#include <string>

#ifndef QUARNO_PROGRAM_VERSION
#error "QUARNO_PROGRAM_VERSION must carry the project version"
#endif

namespace quarno::update {

const char* ProgramVersion() { return QUARNO_PROGRAM_VERSION; }

double LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  std::string number;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      number += c;
    } else if (c == '.' && !point) {
      point = true;
      number += c;
    } else {
      break;
    }
  }
  if (number.empty() || number == ".") return 0;
  // from_chars, not strtod: the desktop's locale may spell the point as a comma.
  double value = 0;
  std::from_chars(number.data(), number.data() + number.size(), value);
  return value;
}

bool IsSafeVersionText(std::string_view text) {
  if (text.empty() || text.size() > 32 || !std::isdigit(static_cast<unsigned char>(text[0])))
    return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
      return false;
  }
  return true;
}

}  // namespace quarno::update
