#include "platform/autoban.h"

#include <algorithm>

#include "platform/admission.h"

namespace quarno::platform {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::seconds;

Autoban::Autoban(AutobanPolicy policy, Clock* clock) : policy_(policy), clock_(clock) {
  if (!clock_) {
    own_clock_ = std::make_unique<SystemClock>();
    clock_ = own_clock_.get();
  }
}

Autoban::TimePoint Autoban::Now() { return clock_->Now(); }

bool Autoban::Expire(Entry& entry, TimePoint now) const {
  auto& f = entry.failures;
  f.erase(f.begin(), std::find_if(f.begin(), f.end(),
                                  [&](TimePoint t) { return now - t < policy_.window; }));
  // A ban's repeat count is kept for a longest ban after it ends.
  return f.empty() && now >= entry.banned_until + policy_.longest_ban;
}

void Autoban::MakeRoom(TimePoint now) {
  for (auto it = entries_.begin(); it != entries_.end();)
    it = Expire(it->second, now) ? entries_.erase(it) : std::next(it);
  if (entries_.size() < kMaxRemembered) return;
  // A sixteenth at a time, so that a flood of new addresses does not scan the
  // table on each one: the oldest unbanned first, then the bans ending first.
  using It = std::map<std::string, Entry>::iterator;
  std::vector<std::pair<std::pair<bool, TimePoint>, It>> order;
  order.reserve(entries_.size());
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    bool banned = it->second.banned_until > now;
    order.push_back({{banned, banned ? it->second.banned_until : it->second.last_seen}, it});
  }
  std::size_t drop = entries_.size() - kMaxRemembered + kMaxRemembered / 16;
  auto by_age = [](const auto& a, const auto& b) { return a.first < b.first; };
  std::nth_element(order.begin(), order.begin() + drop - 1, order.end(), by_age);
  for (std::size_t i = 0; i < drop; ++i) entries_.erase(order[i].second);
}

Autoban::Entry& Autoban::Find(const std::string& key, TimePoint now) {
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    if (entries_.size() >= kMaxRemembered) MakeRoom(now);
    it = entries_.emplace(key, Entry{}).first;
  }
  it->second.last_seen = now;
  return it->second;
}

std::optional<seconds> Autoban::BannedFor(const asio::ip::address& peer) {
  std::lock_guard lock(mutex_);
  if (!policy_.enabled) return std::nullopt;
  auto it = entries_.find(AddressKey(peer));
  if (it == entries_.end()) return std::nullopt;
  TimePoint now = Now();
  if (it->second.banned_until <= now) return std::nullopt;
  // Rounded up: a ban with 300 ms left still says 1 s.
  return std::chrono::ceil<seconds>(it->second.banned_until - now);
}

std::optional<milliseconds> Autoban::PaceCheck(const asio::ip::address& peer,
                                               milliseconds max_wait) {
  std::lock_guard lock(mutex_);
  if (!policy_.enabled) return milliseconds(0);
  auto it = entries_.find(AddressKey(peer));
  TimePoint now = Now();
  if (it == entries_.end()) return milliseconds(0);
  Expire(it->second, now);
  if (it->second.failures.empty()) return milliseconds(0);
  TimePoint slot = std::max(next_slot_, now);
  auto wait = std::chrono::ceil<milliseconds>(slot - now);
  if (wait > max_wait) return std::nullopt;
  next_slot_ = slot + policy_.paced_interval;
  return wait;
}

bool Autoban::RecordFailure(const asio::ip::address& peer, seconds* ban) {
  std::lock_guard lock(mutex_);
  if (!policy_.enabled || policy_.attempts <= 0) return false;
  TimePoint now = Now();
  Entry& entry = Find(AddressKey(peer), now);
  Expire(entry, now);
  if (entry.banned_until > now) return false;  // already banned: no second line
  entry.failures.push_back(now);
  if (static_cast<int>(entry.failures.size()) < policy_.attempts) return false;
  seconds length = policy_.ban;
  for (int i = 0; i < entry.bans && length < policy_.longest_ban; ++i) length *= 2;
  length = std::min(length, std::max(policy_.ban, policy_.longest_ban));
  entry.banned_until = now + length;
  ++entry.bans;
  entry.failures.clear();
  if (ban) *ban = length;
  return true;
}

void Autoban::RecordSuccess(const asio::ip::address& peer) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(AddressKey(peer));
  if (it != entries_.end()) it->second.failures.clear();
}

void Autoban::SetPolicy(AutobanPolicy policy) {
  std::lock_guard lock(mutex_);
  policy_ = policy;
}

AutobanPolicy Autoban::Policy() const {
  std::lock_guard lock(mutex_);
  return policy_;
}

}  // namespace quarno::platform
