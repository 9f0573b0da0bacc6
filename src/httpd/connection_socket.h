#pragma once
// CivetWeb 1.15 does not hand out a connection's socket, and its own
// sendfile gives up on the first full socket buffer and copies in 8 KiB
// pieces. For large bodies the socket is found by its two addresses, and the
// kernel sends the file itself.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarno::httpd {

// The descriptor of this process's TCP socket whose peer is `peer_address`
// (numeric text) port `peer_port` and whose local port is `local_port`;
// -1 when there is none. Costs a look at every open descriptor: worth it
// only for large bodies.
int FindConnectionSocket(const std::string& peer_address, int peer_port, int local_port);

// This process's TCP connections on `local_port` that are past
// `per_address` for their peer's address (port aside): the descriptors to end
// so that no address holds more. Which of an address's connections these are
// is not chosen beyond preferring the highest descriptors.
std::vector<int> ConnectionsPastTheShare(int local_port, int per_address);

enum class SendResult { kDone, kFailed, kStopped };

// Sends `length` bytes of `file_fd` from `offset` with sendfile, waiting for
// the socket when its buffer is full (the socket may be non-blocking), for
// at most `idle_timeout_ms` without progress. `stop` is asked between pieces.
SendResult SendFileToSocket(int socket_fd, int file_fd, std::uint64_t offset, std::uint64_t length,
                            int idle_timeout_ms, const std::function<bool()>& stop);

}  // namespace quarno::httpd
