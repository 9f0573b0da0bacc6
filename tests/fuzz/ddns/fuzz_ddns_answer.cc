// Answers of the DDNS server and the Content-length rule shared by the clients.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ddns/ddns_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const long long remaining = quarno::RemainingContentLength(input);
  if (remaining > 1000000000LL) __builtin_trap();  // must stay bounded
  const std::string body = quarno::CDDNS_Manager::ExtractBody(input);
  quarno::ClassifyRegisterAnswer(body);
  if (auto record = quarno::ParseGetByMacAnswer(body)) (void)record->Name();
  quarno::SplitAnswerFields(input);
  return 0;
}
