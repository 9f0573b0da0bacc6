// SOAP answers of the gateway: entry count, one mapping entry, action result.
#include <cstddef>
#include <cstdint>
#include <string>

#include "upnp/upnp_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  quarno::ParseEntryCount(input);
  quarno::ParseMappingEntry(input);
  const int result = quarno::ParseActionResult(input);
  if (result < -1) __builtin_trap();
  return 0;
}
