// The router's answers: status line, body after the header, <body> markers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "router/router_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  quarno::ClassifySysinfoAnswer(input);
  bool found = false;
  quarno::LowerFirstLine(input, found);
  quarno::TrimmedBodyAfterHeader(input, found);
  quarno::BodyBetweenMarkers(input, found);
  quarno::Base64Encode(input);
  return 0;
}
