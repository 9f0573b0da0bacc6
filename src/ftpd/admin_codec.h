#pragma once
// Bytes of the administration protocol, server side: greeting, message frames,
// the option set, the account message and the connection-list payloads.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ftpd/account.h"
#include "ftpd/options.h"

namespace quarno::ftpd {

using Bytes = std::vector<uint8_t>;

using ftpctl::kProtocolVersion;
using ftpctl::kServerVersion;
inline constexpr uint32_t kMaxAdminPayload = ftpctl::kMaxPayloadLength;

enum class AdminType : uint8_t { kCommand = 0, kReply = 1, kStatus = 2 };

Bytes Greeting();  // the 15 bytes sent on accept

// One frame: header byte (type | id << 2), 32-bit little-endian length, payload.
Bytes Frame(AdminType type, uint8_t id, const Bytes& payload);

struct AdminMessage {
  uint8_t type = 0;
  uint8_t id = 0;
  Bytes payload;
};

enum class FrameResult { kNeedMore, kMessage, kMalformed };
// Takes one message off the front of `buffer` when complete. Only commands
// (type 0) travel from a client; any other type, or a length above
// kMaxAdminPayload, is malformed.
FrameResult TakeClientMessage(Bytes& buffer, AdminMessage& message);

// Option set: count 62, then each option as type byte 0 (3-byte big-endian
// length + UTF-8 text) or 1 (64-bit little-endian number); 4 zero bytes after.
Bytes SerializeOptions(const GeneralOptions& options);
// False on a count other than 62, an unknown type byte, a type that differs
// from the table's, a shortage or a text that is not UTF-8. Bytes after the
// 62nd option are ignored.
bool ParseOptions(const uint8_t* data, size_t size, GeneralOptions& options);

// Account message: group count (always 0 from the client), user count, users.
bool ParseAccountMessage(const uint8_t* data, size_t size, std::vector<Account>& users);
Bytes SerializeAccountMessage(const std::vector<Account>& users);

// Connection list payloads (command 3).
struct ConnectionEntry {
  uint32_t id = 0;
  std::string address;
  uint32_t port = 0;
  std::string time_text;  // shown as the connection time
};
Bytes FullConnectionList(const std::vector<ConnectionEntry>& entries);
Bytes ConnectionAdded(uint32_t id, std::string_view address, uint32_t port);
Bytes ConnectionUserChanged(uint32_t id, std::string_view user);
Bytes ConnectionRemoved(uint32_t id);

// "%4d.%02d.%02d. %s %02d:%02d:%02d" with AM/PM and the hour modulo 12, local time.
std::string ConnectionTimeText(int64_t unix_seconds);

}  // namespace quarno::ftpd
