// The request layer on arbitrary bytes: the head as the engine parses it,
// then every Authorization header through both credential checks. Nothing
// may crash, a refusal always has its answer, and garbage never passes.
#include <strings.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "httpd/digest_auth.h"
#include "httpd/exchange.h"
#include "httpd/http_auth.h"
#include "httpd/request_head.h"

namespace httpd = quarno::httpd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const httpd::NonceMint mint;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  httpd::Exchange exchange;
  std::size_t used = 0;
  const httpd::HeadVerdict verdict = httpd::ParseHead(bytes, exchange, &used);
  if (used > size) std::abort();
  if ((verdict == httpd::HeadVerdict::kBad || verdict == httpd::HeadVerdict::kTooLarge) &&
      httpd::RefusalAnswer(verdict).empty()) {
    std::abort();
  }
  if (verdict != httpd::HeadVerdict::kTaken) return 0;
  std::vector<std::string_view> authorization;
  for (const auto& [name, value] : exchange.headers) {
    if (name.size() == 13 && strncasecmp(name.c_str(), "Authorization", 13) == 0) {
      authorization.emplace_back(value);
      httpd::ParseAuthorization(value);
      // Nobody's password file holds this user, so nothing may pass.
      if (httpd::DigestAuthorized(value, exchange.method, exchange.target, "", 0)) std::abort();
    }
  }
  const auto now = std::chrono::system_clock::now();
  const std::optional<httpd::Credentials> account = httpd::Credentials{"ftp", "pw"};
  for (bool tls : {false, true}) {
    httpd::CheckAuthorization(authorization, exchange.method, exchange.target, tls, account, mint,
                              now);
  }
  return 0;
}
