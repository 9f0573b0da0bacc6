// The walk of the device description.
#include <cstddef>
#include <cstdint>
#include <string>

#include "upnp/upnp_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quarno::FindWanIpControlUrl(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
