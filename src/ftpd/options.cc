#include "ftpd/options.h"

namespace quarno::ftpd {
const OptionInfo& OptionTable(int id) { return ftpctl::kOptionTable[id - 1]; }

int FindOption(std::string_view name) {
  for (int i = 0; i < kOptionCount; ++i)
    if (name == ftpctl::kOptionTable[i].name) return i + 1;
  return 0;
}

GeneralOptions::GeneralOptions() {
  for (int i = 0; i < kOptionCount; ++i) values_[i].is_text = IsTextOption(i + 1);
}

}  // namespace quarno::ftpd
