// Connection-list payloads, applied one after another: no crash, and the
// ordered list and the id map stay in step.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "ftpctl/connection_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quarno::ftpctl::ConnectionList list;
  std::tm now{};
  // Payloads are separated by their own leading length byte.
  size_t pos = 0;
  while (pos < size) {
    size_t n = data[pos++];
    if (n > size - pos) n = size - pos;
    list.ParseUserControl(data + pos, n, now);
    pos += n;
  }
  std::set<uint32_t> ids;
  for (const auto& row : list.Snapshot()) {
    if (!ids.insert(row.id).second) std::abort();  // one record per connection id
  }
  return 0;
}
