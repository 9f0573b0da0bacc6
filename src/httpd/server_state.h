#pragma once
// Shared between the start code and the request handling; not installed.
#include <string>

namespace quarno::httpd::detail {

struct ServerState {
  // Document root as configured, and with symlinks resolved (for the
  // containment test of every served path).
  std::string document_root;
  std::string real_root;
};

}  // namespace quarno::httpd::detail
