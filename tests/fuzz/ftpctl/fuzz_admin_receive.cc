// Whatever the server sends, in whatever pieces, the admin client neither
// crashes nor keeps bytes it can never parse.
#include <cstddef>
#include <cstdint>

#include "ftpctl/server_interface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  quarno::QueueSink sink;
  quarno::ftpctl::CServerInterface client(&sink);
  // The first byte sets the size of the pieces the rest arrives in.
  size_t piece = data[0] % 32 + 1;
  for (size_t pos = 1; pos < size; pos += piece) {
    size_t n = size - pos < piece ? size - pos : piece;
    client.ReceiveForTesting(data + pos, n);
  }
  client.Connections().Snapshot();
  client.Options();
  return 0;
}
