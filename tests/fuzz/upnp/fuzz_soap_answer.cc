// SOAP answers of the gateway: entry count, one mapping entry, action result,
// WAN address.
#include <cstddef>
#include <cstdint>
#include <string>

#include "upnp/upnp_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  quarno::ParseEntryCount(input);
  if (auto entry = quarno::ParseMappingEntry(input); entry && entry->lease_duration < 0)
    __builtin_trap();
  if (auto address = quarno::ParseExternalIpAddress(input); address && address->size() > 15)
    __builtin_trap();
  const int result = quarno::ParseActionResult(input);
  if (result < -1) __builtin_trap();
  return 0;
}
