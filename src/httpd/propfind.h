#pragma once
#include <string>
#include <vector>

namespace quarno::httpd {

struct PropfindEntry {
  std::string href;  // percent-encoded, so safe inside XML as it is
  bool collection = false;
  unsigned long long length = 0;
  long long modified = 0;  // seconds since the epoch
};

// The 207 body: the resource itself first, then its members.
std::string MultistatusBody(const std::vector<PropfindEntry>& entries);
// The same body in pieces, for streaming: head, entries, tail.
std::string MultistatusHead();
std::string MultistatusEntry(const PropfindEntry& entry);
inline constexpr char kMultistatusTail[] = "</d:multistatus>\n";

}  // namespace quarno::httpd
