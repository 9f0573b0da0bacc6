#pragma once
// What stands between the daemon and a hostile client: the per-address ban
// on failed logins, the admission of connections that have not logged in,
// the share of passive listeners per address, the ports a data connection
// may never reach, and one log line per refusal cause. Sessions and the
// admin channel reach it through Server::doors().
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/admission.h"
#include "platform/asio.h"
#include "platform/autoban.h"

namespace quarno::ftpd {

class GeneralOptions;

class Doors {
 public:
  static constexpr int kPassivePerAddress = 2;
  static constexpr std::chrono::seconds kPassiveUnusedLimit{30};

  Doors();

  // Writes `line` to the log the first time `cause` comes up, so that an
  // attacker's thousand attempts leave one line, not a thousand.
  void LogOnce(const std::string& cause, const std::string& line);

  platform::Autoban& autoban() { return *autoban_; }
  // The same count for the daemon's HTTP serving: one ban for both protocols.
  std::shared_ptr<platform::Autoban> shared_autoban() { return autoban_; }
  // Options 55-58: enable, attempts, unit of the time (0 minutes, 1 hours), time.
  void ApplyAutobanOptions(const GeneralOptions& options);
  // "421 ..." for a banned address; empty when it may go on.
  std::string BanReply(const asio::ip::address& peer);

  // Before login. The bounds stay below the session cap, so that logged-in
  // users and a newcomer from a fresh address always find a place.
  void SetSessionCap(std::size_t cap, std::size_t per_address);
  platform::Admission::Ticket AdmitBeforeLogin(const asio::ip::address& peer,
                                               std::function<void()> evict);

  // The ports this daemon listens on (FTP, admin, HTTP): no data connection
  // may go there, or a client could make the daemon talk to itself.
  void SetOwnPorts(std::function<std::vector<uint16_t>()> ports) { own_ports_ = std::move(ports); }
  // Empty when a PORT/EPRT target of `session_peer` is acceptable, else the reply.
  std::string DataTargetRefusal(const asio::ip::address& session_peer,
                                const asio::ip::address& target, uint16_t port);

  // A place for one open passive listener of `peer`'s address, released when
  // the returned holder goes; null when the address holds its share.
  std::shared_ptr<void> TakePassiveSlot(const asio::ip::address& peer);

 private:
  std::set<std::string> logged_causes_;
  std::shared_ptr<platform::Autoban> autoban_;
  std::shared_ptr<platform::Admission> prelogin_;
  std::function<std::vector<uint16_t>()> own_ports_;
  std::shared_ptr<std::map<std::string, int>> passive_open_;
};

}  // namespace quarno::ftpd
