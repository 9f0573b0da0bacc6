#pragma once
// Keeps the server's port mappings on the router while a program serves.
//
// A router that reboots forgets its UPnP mappings, and one that turns the
// lease of 0 into a lease of its own lets them run out, so a server that stays
// up would lose its reachability from the Internet without a word. While the
// boot-up service or the desktop program serves, the healer reads the
// router's table now and then (every `period`, and soon after the network
// comes back), adds again the FTP, HTTP and passive mappings of this PC that
// are missing or about to run out, and logs each repair. A port that the
// router maps to another PC is never touched, and nothing at all is done
// while the server's FTP mapping names another PC (the registration moved).
// When the router's WAN address changed, the FTP server is told (its passive
// answers carry that address).
//
//   MappingHealer healer(mapper, network, clock, listener);
//   healer.Serve({gateway, local, 2121, 35002, PassivePortRange(2121), "192.0.3.2"});
//   HealerStop stop;                       // stop.Request() from another thread
//   RunHealer(healer, stop, options.poll); // until stopped
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "core/network_facts.h"
#include "platform/clock.h"
#include "upnp/port_mapper.h"

namespace quarno {

// What this PC serves and has mapped.
struct ServedMappings {
  std::string gateway;
  std::string local_address;  // the internal client of every mapping
  int ftp_port = 0;
  int http_port = 0;
  PortRange passive;
  // The WAN address the FTP server was last given; empty when unknown.
  std::string external_address;
};

// Told when the router's WAN address changed: rewrites the FTP server's
// configuration with the new passive address and has it re-read (code 200).
// False when that failed; the healer then tries again at its next check.
class ExternalAddressListener {
 public:
  virtual ~ExternalAddressListener() = default;
  virtual bool ExternalAddressChanged(const std::string& address) = 0;
};

struct HealerOptions {
  std::chrono::milliseconds period{std::chrono::minutes(5)};
  // How often the network is looked at between checks.
  std::chrono::milliseconds poll{std::chrono::seconds(5)};
  // After the network comes back: time for the address and the router to settle.
  std::chrono::milliseconds after_network_back{std::chrono::seconds(5)};
  // After a check that found no UPnP gateway (a router still starting).
  std::chrono::milliseconds retry{std::chrono::seconds(30)};
  // A mapping whose lease ends within this is added again.
  std::chrono::seconds renew_within{std::chrono::hours(1)};
};

struct HealReport {
  bool reached = false;      // the gateway answered and its table was read
  int added = 0;             // missing mappings added again
  int renewed = 0;           // mappings running out, added again
  int failed = 0;            // additions the gateway refused
  int held_by_other_pc = 0;  // ports of ours that the router maps elsewhere
  bool moved_away = false;   // the server's FTP mapping names another PC
  bool address_changed = false;
};

class MappingHealer {
 public:
  MappingHealer(PortMapper& mapper, NetworkFacts& network, platform::Clock& clock,
                ExternalAddressListener& listener, HealerOptions options = {});

  // Heal these from now on; the first check is one period away (the caller
  // has just mapped them).
  void Serve(const ServedMappings& served);
  // Nothing served any more (servers stopped, registration gone).
  void Stop();
  std::optional<ServedMappings> Served() const;

  // One look at the router's table, with the repairs; nothing when not serving.
  HealReport CheckNow();
  // One poll: a check when the period is over or the network came back.
  // True when it checked.
  bool Tick();
  const HealerOptions& Options() const { return options_; }

 private:
  HealReport CheckLocked();
  void Ensure(const UpnpControlPoint& control, const std::vector<PortMapping>& table,
              const PortMapping& wanted, HealReport& report, std::string& conflicts);

  PortMapper& mapper_;
  NetworkFacts& network_;
  platform::Clock& clock_;
  ExternalAddressListener& listener_;
  HealerOptions options_;

  mutable std::mutex mutex_;
  std::optional<ServedMappings> served_;
  std::chrono::steady_clock::time_point next_check_{};
  bool network_down_ = false;
  // What was last logged as out of our hands, so it is logged once, not every period.
  std::string last_conflicts_;
  bool unreachable_logged_ = false;
};

// Asks RunHealer to return, from any thread.
class HealerStop {
 public:
  void Request();
  bool Requested() const;
  // Waits up to `duration`; true when stopping was requested.
  bool WaitFor(std::chrono::milliseconds duration);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool requested_ = false;
};

// Ticks the healer every `poll` until stopped.
void RunHealer(MappingHealer& healer, HealerStop& stop);

}  // namespace quarno
