#include "ftpctl/net_text.h"

#include "platform/codepage.h"

namespace quarno::ftpctl {

std::string NetworkToText(std::string_view wire) {
  if (platform::IsValidUtf8(wire)) return std::string(wire);
  std::string out;
  if (platform::Cp949ToUtf8(wire, out)) return out;
  return {};
}

bool TextToNetwork(std::string_view text, std::string& out) {
  if (!platform::IsValidUtf8(text)) return false;
  out.assign(text);
  return true;
}

}  // namespace quarno::ftpctl
