#pragma once
// The FTP server's list of connected clients (admin command 3 payloads).
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarno::ftpctl {

inline constexpr char kNotLoggedIn[] = "(not logged in)";

struct ConnectionInfo {
  uint32_t id = 0;
  std::string user_name;
  std::string address;
  std::string time_text;
};

// "%4d.%02d.%02d. %s %02d:%02d:%02d": AM/PM with the hour modulo 12.
std::string FormatConnectionTime(const std::tm& local);

// Written by the admin client's receive thread, read by the window through
// Snapshot(); the lock makes the hand-over safe whatever the post order.
class ConnectionList {
 public:
  // Applies one payload. True when the owner is to be told (a full list that
  // parsed, or any well-formed change form, even when the change itself did
  // not apply); false when the payload was rejected. A malformed full list
  // leaves the previous list as it was.
  bool ParseUserControl(const uint8_t* payload, std::size_t length, const std::tm& now);

  std::vector<ConnectionInfo> Snapshot() const;
  std::size_t size() const;
  void Clear();

 private:
  using Records = std::list<ConnectionInfo>;
  void InsertLocked(ConnectionInfo info);
  bool ParseFullList(const uint8_t* p, std::size_t length);
  bool ParseChange(const uint8_t* p, std::size_t length, const std::tm& now);

  mutable std::mutex mutex_;
  Records ordered_;
  std::unordered_map<uint32_t, Records::iterator> by_id_;
};

}  // namespace quarno::ftpctl
