#include "httpd/http_access.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "core/settings.h"
#include "httpd/share_link.h"
#include "platform/install_secret.h"

namespace quarno::httpd {
namespace {

std::string Refusal(int status, const char* reason, const std::string& extra_headers,
                    bool keep_alive, bool head_only) {
  // Says nothing of what was asked for: no path, no file name.
  char body[96];
  const int length = std::snprintf(body, sizeof body, "Error %d: %s\n%s", status, reason, reason);
  char head[200];
  std::snprintf(head, sizeof head,
                "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n", status,
                reason, length);
  std::string answer = head + extra_headers + "Connection: " +
                       (keep_alive ? "keep-alive" : "close") + "\r\n\r\n";
  if (!head_only) answer += body;
  return answer;
}

}  // namespace

std::string StoredShareToken(std::string_view user, std::string_view password) {
  if (user.empty() || password.empty()) return {};
  const auto secret = platform::LoadOrCreateSecret(platform::ShareLinkSecretPath());
  if (!secret) return {};
  return ShareToken(*secret, user, password);
}

AccessProvider StoredHttpAccess() {
  struct Cache {
    std::mutex mutex;
    std::chrono::steady_clock::time_point read_at{};
    bool fresh = false;
    AccessRules rules;
  };
  auto cache = std::make_shared<Cache>();
  return [cache]() {
    std::lock_guard<std::mutex> lock(cache->mutex);
    const auto now = std::chrono::steady_clock::now();
    if (cache->fresh && now - cache->read_at < std::chrono::seconds(1)) return cache->rules;
    AccessRules rules;
    std::string open;
    rules.open = ReadSetting(setting::kHttpOpen, open) && open == "1";
    Credentials account;
    if (ReadSetting(setting::kFtpUser, account.user) &&
        ReadSetting(setting::kFtpPassword, account.password) && !account.user.empty() &&
        !account.password.empty()) {
      const bool same = cache->rules.account && cache->rules.account->user == account.user &&
                        cache->rules.account->password == account.password;
      rules.link_token =
          same ? cache->rules.link_token : StoredShareToken(account.user, account.password);
      rules.account = std::move(account);
    }
    cache->rules = rules;
    cache->read_at = now;
    cache->fresh = true;
    return rules;
  };
}

AccessVerdict DecideAccess(const AccessRequest& request, const AccessRules& rules,
                           const NonceMint& mint, LoginGuard* guard,
                           std::chrono::system_clock::time_point now) {
  AccessVerdict verdict;
  // The link needs no password, so there is nothing to guess at and no ban.
  if (rules.open || TokenMatches(request.token, rules.link_token)) {
    verdict.allowed = true;
    return verdict;
  }
  if (guard && guard->Banned(request.peer)) {
    verdict.status = 403;
    verdict.answer = Refusal(403, "Forbidden", "", false, request.head_only);
    return verdict;
  }
  bool stale = false;
  if (!request.authorization.empty()) {
    if (guard && !guard->MayCheckNow(request.peer)) {
      verdict.status = 429;
      verdict.answer = Refusal(429, "Too Many Requests", "Retry-After: 1\r\n", request.keep_alive,
                               request.head_only);
      return verdict;
    }
    switch (CheckAuthorization(request.authorization, request.method, request.target, request.tls,
                               rules.account, mint, now)) {
      case AuthOutcome::kGood:
        if (guard) guard->Succeeded(request.peer);
        verdict.allowed = true;
        return verdict;
      case AuthOutcome::kWrong:
        if (guard) guard->Failed(request.peer);
        break;
      case AuthOutcome::kStale:
        stale = true;
        break;
      case AuthOutcome::kMissing:
        break;
    }
  }
  verdict.status = 401;
  verdict.answer = Refusal(401, "Unauthorized", ChallengeHeaders(mint, request.tls, stale, now),
                           request.keep_alive, request.head_only);
  return verdict;
}

namespace {

class AutobanGuard final : public LoginGuard {
 public:
  explicit AutobanGuard(std::shared_ptr<platform::Autoban> autoban) : autoban_(std::move(autoban)) {}
  bool Banned(const std::string& peer) override {
    auto address = Parse(peer);
    return address && autoban_->BannedFor(*address).has_value();
  }
  // An HTTP request cannot be held while others are checked: a paced
  // address is told to come back instead.
  bool MayCheckNow(const std::string& peer) override {
    auto address = Parse(peer);
    if (!address) return true;
    auto wait = autoban_->PaceCheck(*address, std::chrono::milliseconds(0));
    return wait && wait->count() == 0;
  }
  void Failed(const std::string& peer) override {
    if (auto address = Parse(peer)) autoban_->RecordFailure(*address);
  }
  void Succeeded(const std::string& peer) override {
    if (auto address = Parse(peer)) autoban_->RecordSuccess(*address);
  }

 private:
  static std::optional<asio::ip::address> Parse(const std::string& peer) {
    asio::error_code error;
    auto address = asio::ip::make_address(peer, error);
    if (error) return std::nullopt;
    return address;
  }
  std::shared_ptr<platform::Autoban> autoban_;
};

}  // namespace

std::shared_ptr<LoginGuard> GuardFromAutoban(std::shared_ptr<platform::Autoban> autoban) {
  return std::make_shared<AutobanGuard>(std::move(autoban));
}

}  // namespace quarno::httpd
