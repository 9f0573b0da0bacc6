// The preface's path handling on arbitrary request paths: whatever it hands
// on is decoded, rewritten, cleaned, and free of anything that climbs out.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "httpd/request_preface.h"

using quarno::httpd::PrefaceAction;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view uri(reinterpret_cast<const char*>(data), size);
  // The library hands over a C string.
  uri = uri.substr(0, uri.find('\0'));
  quarno::httpd::PrefaceDecision decision = quarno::httpd::DecidePreface(uri);
  if (decision.action != PrefaceAction::kServe) return 0;
  const std::string& path = decision.path;
  if (path.empty() || path[0] != '/') std::abort();
  if (path.find('\0') != std::string::npos || path.find('\\') != std::string::npos) std::abort();
  const std::string slashed = "/" + path + "/";
  if (slashed.find("/../") != std::string::npos || slashed.find("/./") != std::string::npos) {
    std::abort();
  }
  if (path.find("//") != std::string::npos) std::abort();
  if (quarno::httpd::CleanPath(path) != path) std::abort();
  // The marker may sit anywhere in the request and the clean-up that follows
  // the prefix cut may drop it from the path: only the checks above matter.
  std::string whole = decision.client_prefix + path;
  // Encoding for hrefs keeps the text one decode away from the original.
  std::string encoded = quarno::httpd::PercentEncodePath(whole);
  if (encoded.find_first_of("<>&\"' \r\n") != std::string::npos) std::abort();
  return 0;
}
