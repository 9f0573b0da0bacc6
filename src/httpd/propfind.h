#pragma once
#include <string>
#include <vector>

#include "httpd/request_preface.h"

struct mg_connection;

namespace quarno::httpd {

struct PropfindEntry {
  std::string href;  // percent-encoded, so safe inside XML as it is
  bool collection = false;
  unsigned long long length = 0;
  long long modified = 0;  // seconds since the epoch
};

// The 207 body: the resource itself first, then its members.
std::string MultistatusBody(const std::vector<PropfindEntry>& entries);

// Answers PROPFIND for `decision.path` under `real_root` with hrefs that keep
// the client's "/httpstream/<token>" prefix (the library's would not).
// Honours a ".htpasswd" the way the library does. Returns the status sent,
// or 0 when the library should answer (nothing there).
int ServePropfind(mg_connection* connection, const std::string& real_root,
                  const PrefaceDecision& decision);

}  // namespace quarno::httpd
