#include "platform/admission.h"

#include <algorithm>
#include <cstdio>

namespace quarno::platform {
namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The bytes that name a host or its network: IPv4 whole or its /24; IPv6
// (not mapped IPv4) its /64 or its /48.
std::string Key(const asio::ip::address& peer, bool network) {
  asio::ip::address a = peer;
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    a = asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
  char text[64];
  if (a.is_v4()) {
    auto b = a.to_v4().to_bytes();
    if (network)
      std::snprintf(text, sizeof text, "%u.%u.%u.0/24", b[0], b[1], b[2]);
    else
      std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
  }
  auto b = a.to_v6().to_bytes();
  const int kept = network ? 6 : 8;
  std::string key;
  for (int i = 0; i < kept; i += 2) {
    std::snprintf(text, sizeof text, "%02x%02x:", b[i], b[i + 1]);
    key += text;
  }
  key += network ? ":/48" : ":/64";
  return key;
}

}  // namespace

std::string AddressKey(const asio::ip::address& peer) { return Key(peer, false); }
std::string NetworkKey(const asio::ip::address& peer) { return Key(peer, true); }

Admission::Ticket& Admission::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    Release();
    owner_ = std::move(other.owner_);
    entry_ = std::move(other.entry_);
  }
  return *this;
}

void Admission::Ticket::Touch() {
  if (entry_) entry_->last_progress.store(NowNs(), std::memory_order_relaxed);
}

void Admission::Ticket::Release() {
  if (!entry_) return;
  if (auto owner = owner_.lock()) owner->Remove(entry_);
  entry_.reset();
  owner_.reset();
}

std::shared_ptr<Admission> Admission::Create(AdmissionLimits limits) {
  return std::shared_ptr<Admission>(new Admission(limits));
}

void Admission::SetLimits(AdmissionLimits limits) {
  std::lock_guard lock(mutex_);
  limits_ = limits;
}

AdmissionLimits Admission::Limits() const {
  std::lock_guard lock(mutex_);
  return limits_;
}

std::size_t Admission::CountAddress(const asio::ip::address& peer) const {
  std::lock_guard lock(mutex_);
  auto it = by_address_.find(AddressKey(peer));
  return it == by_address_.end() ? 0 : it->second.size();
}

std::size_t Admission::Total() const {
  std::lock_guard lock(mutex_);
  return total_;
}

void Admission::Remove(const std::shared_ptr<Entry>& entry) {
  std::lock_guard lock(mutex_);
  RemoveLocked(entry);
}

void Admission::RemoveLocked(const std::shared_ptr<Entry>& entry) {
  if (!entry->admitted) return;  // evicted earlier: its place was given away then
  entry->admitted = false;
  auto it = by_address_.find(entry->address);
  if (it == by_address_.end()) return;
  auto& list = it->second;
  list.erase(std::remove(list.begin(), list.end(), entry), list.end());
  --total_;
  if (list.empty()) {
    by_address_.erase(it);
    auto net = addresses_of_network_.find(entry->network);
    if (net != addresses_of_network_.end()) {
      auto& names = net->second;
      names.erase(std::remove(names.begin(), names.end(), entry->address), names.end());
      if (names.empty()) addresses_of_network_.erase(net);
    }
  }
}

std::function<void()> Admission::EvictFrom(std::vector<std::string> addresses) {
  // The biggest holder gives way; among its connections, the idlest.
  const std::vector<std::shared_ptr<Entry>>* biggest = nullptr;
  for (const auto& name : addresses) {
    auto it = by_address_.find(name);
    if (it == by_address_.end()) continue;
    bool evictable = std::any_of(it->second.begin(), it->second.end(),
                                 [](const auto& e) { return static_cast<bool>(e->evict); });
    if (evictable && (!biggest || it->second.size() > biggest->size())) biggest = &it->second;
  }
  if (!biggest) return {};
  std::shared_ptr<Entry> idlest;
  for (const auto& e : *biggest) {
    if (!e->evict) continue;
    if (!idlest || e->last_progress.load(std::memory_order_relaxed) <
                       idlest->last_progress.load(std::memory_order_relaxed))
      idlest = e;
  }
  auto evict = std::move(idlest->evict);
  idlest->evict = nullptr;
  RemoveLocked(idlest);
  return evict;
}

Admission::Ticket Admission::Admit(const asio::ip::address& peer, std::function<void()> evict) {
  auto entry = std::make_shared<Entry>();
  entry->address = AddressKey(peer);
  entry->network = NetworkKey(peer);
  entry->evict = std::move(evict);
  entry->last_progress.store(NowNs(), std::memory_order_relaxed);

  std::vector<std::function<void()>> evicted;
  {
    std::lock_guard lock(mutex_);
    // Each full scope, narrowest first, must give up one place; a scope
    // that cannot refuses the newcomer (nothing is evicted for nothing).
    auto count_of = [&](const std::string& address) -> std::size_t {
      auto it = by_address_.find(address);
      return it == by_address_.end() ? 0 : it->second.size();
    };
    auto network_count = [&] {
      std::size_t n = 0;
      auto it = addresses_of_network_.find(entry->network);
      if (it != addresses_of_network_.end())
        for (const auto& a : it->second) n += count_of(a);
      return n;
    };
    auto refuse = [] { return Ticket(); };
    if (limits_.per_address == 0 || limits_.per_network == 0 || limits_.total == 0) return refuse();
    if (count_of(entry->address) >= limits_.per_address) {
      auto e = EvictFrom({entry->address});
      if (!e) return refuse();
      evicted.push_back(std::move(e));
    }
    if (network_count() >= limits_.per_network) {
      auto e = EvictFrom(addresses_of_network_.at(entry->network));
      if (!e) return refuse();
      evicted.push_back(std::move(e));
    }
    if (total_ >= limits_.total) {
      std::vector<std::string> all;
      all.reserve(by_address_.size());
      for (const auto& [name, list] : by_address_) all.push_back(name);
      auto e = EvictFrom(all);
      if (!e) return refuse();
      evicted.push_back(std::move(e));
    }
    auto& list = by_address_[entry->address];
    if (list.empty()) addresses_of_network_[entry->network].push_back(entry->address);
    list.push_back(entry);
    ++total_;
  }
  // The evicted connections' callbacks run outside the lock: they close
  // sockets and release tickets of their own.
  for (auto& e : evicted) e();
  return Ticket(weak_from_this(), entry);
}

}  // namespace quarno::platform
