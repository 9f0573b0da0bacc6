#pragma once
// Failed logins, counted per address (an IPv6 /64 is one address) for every
// server of the system (FTP, FTPS, HTTP, HTTPS): after `attempts` failures
// within `window` an address is banned for `ban`, doubling on each repeat up
// to `longest_ban`. Failures from all addresses together are also paced to
// one check per `paced_interval`, so that many addresses cannot guess fast
// either; an address without failures is never paced.
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/asio.h"
#include "platform/clock.h"

namespace quarno::platform {

struct AutobanPolicy {
  bool enabled = true;
  int attempts = 5;
  std::chrono::seconds window{600};
  std::chrono::seconds ban{900};
  std::chrono::seconds longest_ban{24 * 3600};
  std::chrono::milliseconds paced_interval{1000};
};

class Autoban {
 public:
  explicit Autoban(AutobanPolicy policy, Clock* clock = nullptr);  // null: steady clock

  // Time left on a ban of `peer`'s address, or nullopt when it may try.
  std::optional<std::chrono::seconds> BannedFor(const asio::ip::address& peer);
  // For an address with earlier failures: how long to wait before its next
  // password check may run (shared slot among all such addresses), or
  // nullopt when the wait would exceed `max_wait` (refuse the attempt).
  // Zero for an address without failures.
  std::optional<std::chrono::milliseconds> PaceCheck(const asio::ip::address& peer,
                                                     std::chrono::milliseconds max_wait);
  // Returns true when this failure began a ban (log one line then); `*ban`
  // gets its length.
  bool RecordFailure(const asio::ip::address& peer, std::chrono::seconds* ban = nullptr);
  void RecordSuccess(const asio::ip::address& peer);  // forgets its failures, not a ban

  void SetPolicy(AutobanPolicy policy);
  AutobanPolicy Policy() const;
  // Bounded memory: entries expire; at most this many addresses are remembered
  // (the oldest unbanned go first).
  static constexpr std::size_t kMaxRemembered = 65536;
 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Entry {
    std::vector<TimePoint> failures;  // within the window, oldest first
    TimePoint banned_until{};
    int bans = 0;  // so far: the next one lasts ban * 2^bans
    TimePoint last_seen{};
  };
  TimePoint Now();
  // Drops failures outside the window; true when nothing is left worth keeping.
  bool Expire(Entry& entry, TimePoint now) const;
  Entry& Find(const std::string& key, TimePoint now);
  void MakeRoom(TimePoint now);

  mutable std::mutex mutex_;
  AutobanPolicy policy_;
  Clock* clock_;
  std::unique_ptr<Clock> own_clock_;
  std::map<std::string, Entry> entries_;
  TimePoint next_slot_{};  // the shared pace of checks after failures
};

}  // namespace quarno::platform
