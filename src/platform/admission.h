#pragma once
// Admission before any work, for every server of the system (FTP, FTPS, HTTP,
// HTTPS): a connection is counted against its address, its network and the
// server's total at accept, before a byte of it is read, so that a few hosts
// cannot hold every place. An IPv6 host gets a whole /64 from its provider,
// so a /64 counts as one address.
//
// When a bound is reached the newcomer is not simply refused: the holder with
// the most connections in the full scope gives up its idlest evictable one.
// A client with one or two connections therefore keeps them while an attacker
// with hundreds loses its own.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/asio.h"

namespace quarno::platform {

struct AdmissionLimits {
  std::size_t per_address = 16;   // one IPv4 address, or one IPv6 /64
  std::size_t per_network = 64;   // one IPv4 /24, or one IPv6 /48
  std::size_t total = 256;
};

// Keys by which connections are counted: IPv4 (and IPv4-mapped IPv6) whole
// or as its /24; IPv6 as its /64 or /48.
std::string AddressKey(const asio::ip::address& peer);
std::string NetworkKey(const asio::ip::address& peer);

class Admission : public std::enable_shared_from_this<Admission> {
  struct Entry;

 public:
  // One admitted connection. Releasing it (destruction, Release) frees its
  // place. Move-only; an empty ticket means "refused".
  class Ticket {
   public:
    Ticket() = default;
    ~Ticket() { Release(); }
    Ticket(Ticket&& other) noexcept = default;
    Ticket& operator=(Ticket&& other) noexcept;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;

    explicit operator bool() const { return entry_ != nullptr; }
    // Marks progress (bytes read or written): the idlest go first. Lock-free.
    void Touch();
    void Release();

   private:
    friend class Admission;
    Ticket(std::weak_ptr<Admission> owner, std::shared_ptr<Entry> entry)
        : owner_(std::move(owner)), entry_(std::move(entry)) {}
    std::weak_ptr<Admission> owner_;
    std::shared_ptr<Entry> entry_;
  };

  static std::shared_ptr<Admission> Create(AdmissionLimits limits);

  // Admits a connection from `peer`, or returns an empty ticket when a bound
  // is reached and nobody in the full scope can be evicted. `evict`, when
  // given, makes this connection evictable: it is called at most once, from
  // the thread of a later Admit and with no lock held, after its place has
  // already been given away; it must close the connection (posting to the
  // connection's own executor where that is another thread).
  Ticket Admit(const asio::ip::address& peer, std::function<void()> evict = {});

  void SetLimits(AdmissionLimits limits);
  AdmissionLimits Limits() const;
  std::size_t CountAddress(const asio::ip::address& peer) const;
  std::size_t Total() const;

 private:
  explicit Admission(AdmissionLimits limits) : limits_(limits) {}
  struct Entry {
    std::string address;
    std::string network;
    std::function<void()> evict;
    std::atomic<int64_t> last_progress{0};  // steady clock, ns
    bool admitted = true;                   // under mutex_
  };
  void Remove(const std::shared_ptr<Entry>& entry);
  // Picks the evictable entry to give up among `candidates` (the full scope),
  // removes it and returns its callback; empty when none is evictable.
  std::function<void()> EvictFrom(std::vector<std::string> addresses);
  void RemoveLocked(const std::shared_ptr<Entry>& entry);

  mutable std::mutex mutex_;
  AdmissionLimits limits_;
  std::map<std::string, std::vector<std::shared_ptr<Entry>>> by_address_;
  std::map<std::string, std::vector<std::string>> addresses_of_network_;
  std::size_t total_ = 0;
};

}  // namespace quarno::platform
