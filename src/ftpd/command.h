#pragma once
// FTP command lines: verb and argument, and the address arguments of PORT/EPRT.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarno::ftpd {

// Longest command line accepted (without its CR LF); longer lines end the session.
inline constexpr size_t kMaxCommandLine = 8192;

struct Command {
  std::string verb;  // upper case, letters only, 3-4 characters
  std::string arg;   // everything after the first blank, as sent
};

enum class ParseResult { kOk, kEmpty, kBadVerb, kNulByte };

// Removes Telnet IAC sequences (clients put IAC IP IAC DM in front of ABOR),
// then splits the line. The argument keeps inner and trailing blanks, which
// are legal in file names.
ParseResult ParseCommandLine(std::string_view line, Command& command);

// "h1,h2,h3,h4,p1,p2"
bool ParsePortArgument(std::string_view arg, std::array<uint8_t, 4>& ip, uint16_t& port);
// "|1|132.235.1.2|6275|" or "|2|::1|6275|"; any printable delimiter.
bool ParseEprtArgument(std::string_view arg, int& family, std::string& address, uint16_t& port);

}  // namespace quarno::ftpd
