// A settings file may be hand-edited into anything. Parsing never fails
// hard, and whatever it yields survives a write and a read unchanged.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/key_store.h"

using quarno::platform::FileKeyStore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto values = FileKeyStore::Parse(text);
  if (FileKeyStore::Parse(FileKeyStore::Serialize(values)) != values) __builtin_trap();
  // Any bytes as a value round-trip too.
  std::vector<std::pair<std::string, std::string>> one = {{"value", std::string(text)}};
  if (FileKeyStore::Parse(FileKeyStore::Serialize(one)) != one) __builtin_trap();
  return 0;
}
