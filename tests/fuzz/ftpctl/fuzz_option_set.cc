// An option set that parses serializes back to a payload that parses to the
// same values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ftpctl/general_option.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using quarno::ftpctl::CGeneralOption;
  CGeneralOption options;
  if (!options.Parse(data, size)) return 0;
  auto bytes = options.Serialize();
  if (!bytes) std::abort();  // parsed texts are UTF-8 and far below the limit here
  CGeneralOption again;
  if (!again.Parse(bytes->data(), bytes->size())) std::abort();
  for (int i = 1; i <= quarno::ftpctl::kOptionCount; ++i) {
    if (quarno::ftpctl::OptionDefinition(i)->type == quarno::ftpctl::OptionType::kNumeric) {
      if (again.Number(i) != options.Number(i)) std::abort();
    } else if (again.Text(i) != options.Text(i)) {
      std::abort();
    }
  }
  return 0;
}
