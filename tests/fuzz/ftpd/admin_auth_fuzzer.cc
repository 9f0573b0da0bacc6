// The admin channel's password challenge on arbitrary bytes, from both ends.
// As the daemon reads it: whatever a client sends first, in whatever pieces,
// is accepted only when it is the answer itself, under the answer's command;
// one byte off, short or long never passes. As the client reads it:
// a challenge it takes yields a nonce of the right length, built again the
// same, whose answer the daemon would accept.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ftpctl/admin_auth.h"
#include "ftpctl/admin_protocol.h"
#include "ftpd/admin_codec.h"

namespace ftpctl = quarno::ftpctl;
using quarno::ftpd::AdminMessage;
using quarno::ftpd::Bytes;
using quarno::ftpd::FrameResult;

namespace {

// Fixed so that the seed corpus can hold the right answer to mutate from.
const std::string kSecret = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const std::vector<uint8_t> kNonce = [] {
  std::vector<uint8_t> n(ftpctl::kAdminNonceLength);
  for (size_t i = 0; i < n.size(); ++i) n[i] = static_cast<uint8_t>(i * 7 + 1);
  return n;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> right = ftpctl::ChallengeAnswer(kSecret, kNonce);
  if (size < 1) return 0;
  // The daemon's side: the first byte sets the size of the pieces.
  const size_t piece = data[0] % 16 + 1;
  Bytes buffer;
  bool decided = false;
  for (size_t pos = 1; pos < size && !decided; pos += piece) {
    buffer.insert(buffer.end(), data + pos, data + std::min(size, pos + piece));
    AdminMessage message;
    FrameResult r = quarno::ftpd::TakeClientMessage(buffer, message);
    if (r == FrameResult::kNeedMore) continue;
    decided = true;
    if (r != FrameResult::kMessage) break;
    const bool accepted = message.id == ftpctl::kCmdAuth &&
                          ftpctl::AnswerMatches(kSecret, kNonce, message.payload.data(),
                                                message.payload.size());
    const bool is_right = message.id == ftpctl::kCmdAuth && message.payload == right;
    if (accepted != is_right) std::abort();
  }

  // The client's side: the whole input as a challenge payload.
  auto nonce = ftpctl::ParseChallenge(data, size);
  if (nonce) {
    if (nonce->size() != ftpctl::kAdminNonceLength) std::abort();
    std::vector<uint8_t> again = ftpctl::ChallengePayload(*nonce);
    auto twice = ftpctl::ParseChallenge(again.data(), again.size());
    if (!twice || *twice != *nonce) std::abort();
    std::vector<uint8_t> answer = ftpctl::ChallengeAnswer(kSecret, *nonce);
    if (!ftpctl::AnswerMatches(kSecret, *nonce, answer.data(), answer.size())) std::abort();
    if (answer.size() == ftpctl::kAdminAnswerLength &&
        ftpctl::AnswerMatches(kSecret, *nonce, answer.data(), answer.size() - 1))
      std::abort();
  }
  return 0;
}
