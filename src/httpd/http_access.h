#pragma once
// Who may read the share over HTTP. A request under the stream marker passes
// when the open setting is on, when its second segment is the share link's
// token, or when it carries the account (Digest; Basic only over TLS).
// Wrong passwords count toward the per-address ban that FTP logins share.
// Written against a plain view of the request, so either transport uses it.
#include <chrono>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "httpd/http_auth.h"
#include "platform/autoban.h"

namespace quarno::httpd {

struct AccessRules {
  // The design's open share: anyone with the address reads everything.
  bool open = false;
  std::optional<Credentials> account;  // the FTP account; nullopt: none set
  std::string link_token;              // empty: no share link
};
// Read for every request, so a new account or setting holds from the next one.
using AccessProvider = std::function<AccessRules()>;

// The programs' settings ("Ftp_user", "Ftp_password", "Http_open") and the
// installation's secret, re-read at most once a second.
AccessProvider StoredHttpAccess();
// The link token for an account with the installation's secret; empty when
// the secret cannot be had.
std::string StoredShareToken(std::string_view user, std::string_view password);

// The per-address failure count shared with the FTP logins. `peer` is the
// client's address as text.
class LoginGuard {
 public:
  virtual ~LoginGuard() = default;
  virtual bool Banned(const std::string& peer) = 0;
  // False when the address must wait before another password check.
  virtual bool MayCheckNow(const std::string& peer) = 0;
  virtual void Failed(const std::string& peer) = 0;
  virtual void Succeeded(const std::string& peer) = 0;
};

// Wrong passwords counted by the ban that FTP logins feed, so that a guesser
// gains nothing by switching protocol.
std::shared_ptr<LoginGuard> GuardFromAutoban(std::shared_ptr<platform::Autoban> autoban);

struct AccessRequest {
  std::string_view method;
  std::string_view target;  // as sent: path and query
  std::vector<std::string_view> authorization;
  bool tls = false;
  std::string peer;
  std::string_view token;  // the stream prefix's second segment
  bool keep_alive = false;
  bool head_only = false;
};

struct AccessVerdict {
  bool allowed = false;
  int status = 0;      // of the refusal
  std::string answer;  // whole refusal: head and body
};

AccessVerdict DecideAccess(const AccessRequest& request, const AccessRules& rules,
                           const NonceMint& mint, LoginGuard* guard,
                           std::chrono::system_clock::time_point now);

}  // namespace quarno::httpd
