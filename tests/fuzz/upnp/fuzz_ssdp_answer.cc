// The SSDP answer's location header.
#include <cstddef>
#include <cstdint>
#include <string>

#include "upnp/upnp_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path;
  const int port =
      quarno::ParseSsdpLocation(std::string_view(reinterpret_cast<const char*>(data), size), path);
  if (port < 0 || port > 65535) __builtin_trap();
  return 0;
}
