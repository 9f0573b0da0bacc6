// What an admin client may send: frames, the account message and the option set.
#include <cstdint>
#include <cstdlib>

#include "ftpd/admin_codec.h"

using namespace quarno::ftpd;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Account> users;
  if (ParseAccountMessage(data, size, users)) {
    // What parses serializes back to the same bytes.
    Bytes again = SerializeAccountMessage(users);
    std::vector<Account> twice;
    if (!ParseAccountMessage(again.data(), again.size(), twice) || twice.size() != users.size()) std::abort();
  }
  GeneralOptions options;
  if (ParseOptions(data, size, options)) {
    Bytes again = SerializeOptions(options);
    GeneralOptions twice;
    if (!ParseOptions(again.data(), again.size(), twice)) std::abort();
  }
  Bytes buffer(data, data + size);
  AdminMessage message;
  while (TakeClientMessage(buffer, message) == FrameResult::kMessage) {
  }
  return 0;
}
