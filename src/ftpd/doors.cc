#include "ftpd/doors.h"

#include <algorithm>

#include "core/log.h"
#include "ftpd/options.h"

namespace quarno::ftpd {

Doors::Doors()
    : autoban_(std::make_shared<platform::Autoban>(platform::AutobanPolicy{})),
      prelogin_(platform::Admission::Create({})),
      passive_open_(std::make_shared<std::map<std::string, int>>()) {}

void Doors::LogOnce(const std::string& cause, const std::string& line) {
  if (logged_causes_.size() > 1024) return;  // causes are few; never grow without end
  if (logged_causes_.insert(cause).second) WriteLog("%s", line.c_str());
}

void Doors::ApplyAutobanOptions(const GeneralOptions& o) {
  platform::AutobanPolicy policy;
  policy.enabled = o.Number(ftpctl::OPTION_AUTOBAN_ENABLE) != 0;
  int64_t attempts = o.Number(ftpctl::OPTION_AUTOBAN_ATTEMPTS);
  if (attempts > 0) policy.attempts = static_cast<int>(std::min<int64_t>(attempts, 1000));
  int64_t time = o.Number(ftpctl::OPTION_AUTOBAN_BANTIME);
  int64_t unit = o.Number(ftpctl::OPTION_AUTOBAN_TYPE) == 1 ? 3600 : 60;
  if (time > 0) policy.ban = std::chrono::seconds(std::min<int64_t>(time, 24 * 30) * unit);
  policy.longest_ban = std::max(policy.longest_ban, policy.ban);
  autoban_->SetPolicy(policy);
}

std::string Doors::BanReply(const asio::ip::address& peer) {
  auto left = autoban_->BannedFor(peer);
  if (!left) return {};
  long minutes = static_cast<long>((left->count() + 59) / 60);
  return "421 Too many failed logins from your address; try again in " + std::to_string(minutes) +
         (minutes == 1 ? " minute." : " minutes.");
}

void Doors::SetSessionCap(std::size_t cap, std::size_t per_address) {
  platform::AdmissionLimits limits;
  limits.total = std::max<std::size_t>(cap / 2, 1);
  limits.per_address = std::clamp<std::size_t>(per_address, 1, limits.total);
  limits.per_network = std::clamp<std::size_t>(limits.per_address * 2, 1, limits.total);
  prelogin_->SetLimits(limits);
}

platform::Admission::Ticket Doors::AdmitBeforeLogin(const asio::ip::address& peer,
                                                    std::function<void()> evict) {
  return prelogin_->Admit(peer, std::move(evict));
}

std::string Doors::DataTargetRefusal(const asio::ip::address& session_peer,
                                     const asio::ip::address& target, uint16_t port) {
  const std::string refusal = "504 Rejected: the data address must be your own, on a port above 1023.";
  if (target != session_peer || port < 1024) return refusal;
  if (own_ports_) {
    auto ports = own_ports_();
    if (std::find(ports.begin(), ports.end(), port) != ports.end()) {
      LogOnce("data-own-port", "FTP: data connection to this server's own port " +
                                   std::to_string(port) + " from " + session_peer.to_string() +
                                   " refused (logged once)");
      return refusal;
    }
  }
  return {};
}

std::shared_ptr<void> Doors::TakePassiveSlot(const asio::ip::address& peer) {
  std::string key = platform::AddressKey(peer);
  int& open = (*passive_open_)[key];
  if (open >= kPassivePerAddress) {
    LogOnce("passive-share", "FTP: " + peer.to_string() + " holds " +
                                 std::to_string(kPassivePerAddress) +
                                 " passive listeners; more refused (logged once)");
    return nullptr;
  }
  ++open;
  std::weak_ptr<std::map<std::string, int>> counts = passive_open_;
  return std::shared_ptr<void>(new char(0), [counts, key](void* holder) {
    delete static_cast<char*>(holder);
    if (auto c = counts.lock())
      if (auto it = c->find(key); it != c->end() && --it->second <= 0) c->erase(it);
  });
}

}  // namespace quarno::ftpd
