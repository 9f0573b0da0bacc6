// The /proc/net parsers take whatever the kernel (or a test) hands them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/netinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  quarno::platform::ParseDefaultRoute(text);
  for (const auto& entry : quarno::platform::ParseTcpTable(text)) {
    int state = static_cast<int>(entry.state);
    if (state < 1 || state > 11) __builtin_trap();
  }
  quarno::platform::ParseNeighbourMac(text, "10.0.0.1");
  quarno::platform::ParseNeighbourMac(text, "192.0.2.1");
  return 0;
}
