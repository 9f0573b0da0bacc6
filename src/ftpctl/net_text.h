#pragma once
// Texts on the admin connection. The programs hold UTF-8 internally; the wire
// carries UTF-8 too, but older servers may send the Korean 8-bit code page.
#include <string>
#include <string_view>

namespace quarno::ftpctl {

// UTF-8 when valid, else CP949 when valid, else the empty text.
std::string NetworkToText(std::string_view wire);
// False (and `out` untouched) when `text` is not valid UTF-8.
bool TextToNetwork(std::string_view text, std::string& out);

}  // namespace quarno::ftpctl
