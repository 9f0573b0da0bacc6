#pragma once
// Conversions between UTF-8 (the text of the programs) and CP949, the Korean
// 8-bit code page that older FTP clients use for file names.
#include <string>
#include <string_view>

namespace quarno::platform {

// Both reject invalid or incomplete input (false, `out` untouched).
bool Utf8ToCp949(std::string_view in, std::string& out);
bool Cp949ToUtf8(std::string_view in, std::string& out);
bool IsValidUtf8(std::string_view in);

}  // namespace quarno::platform
