#include "ftpctl/connection_list.h"

#include <cstdio>

#include "ftpctl/net_text.h"
#include "platform/trace.h"

namespace quarno::ftpctl {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
std::size_t Be16(const uint8_t* p) { return std::size_t(p[0]) << 8 | p[1]; }
std::string Text(const uint8_t* p, std::size_t n) {
  return NetworkToText(std::string_view(reinterpret_cast<const char*>(p), n));
}

}  // namespace

std::string FormatConnectionTime(const std::tm& local) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%4d.%02d.%02d. %s %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour >= 12 ? "PM" : "AM",
                local.tm_hour % 12, local.tm_min, local.tm_sec);
  return buf;
}

void ConnectionList::InsertLocked(ConnectionInfo info) {
  // A reused id means the old connection is gone.
  if (auto it = by_id_.find(info.id); it != by_id_.end()) {
    ordered_.erase(it->second);
    by_id_.erase(it);
  }
  uint32_t id = info.id;
  ordered_.push_back(std::move(info));
  by_id_[id] = std::prev(ordered_.end());
}

bool ConnectionList::ParseFullList(const uint8_t* p, std::size_t length) {
  if (length < 3) return false;
  std::size_t count = Be16(p + 1);
  std::size_t pos = 3;
  std::vector<ConnectionInfo> entries;
  for (std::size_t i = 0; i < count; ++i) {
    if (length - pos < 6) return false;
    ConnectionInfo info;
    info.id = Le32(p + pos);
    std::size_t n = Be16(p + pos + 4);
    pos += 6;
    if (length - pos < n + 6) return false;
    info.address = Text(p + pos, n);
    pos += n + 4;
    std::size_t m = Be16(p + pos);
    pos += 2;
    if (length - pos < m + 1) return false;
    info.time_text = Text(p + pos, m);
    pos += m + 1;
    info.user_name = kNotLoggedIn;
    entries.push_back(std::move(info));
  }
  std::lock_guard lock(mutex_);
  ordered_.clear();
  by_id_.clear();
  for (auto& e : entries) InsertLocked(std::move(e));
  return true;
}

bool ConnectionList::ParseChange(const uint8_t* p, std::size_t length, const std::tm& now) {
  int kind = p[1];
  uint32_t id = Le32(p + 2);
  std::lock_guard lock(mutex_);
  switch (kind) {
    case 0: {
      if (length < 8) return false;
      std::size_t n = Be16(p + 6);
      if (length - 8 < n + 4) return false;
      ConnectionInfo info;
      info.id = id;
      info.address = Text(p + 8, n);
      info.time_text = FormatConnectionTime(now);
      info.user_name = kNotLoggedIn;
      InsertLocked(std::move(info));
      return true;
    }
    case 1: {
      auto it = by_id_.find(id);
      if (it == by_id_.end() || length < 8) return false;
      std::size_t n = Be16(p + 6);
      if (length - 8 < n) return false;
      std::string name = Text(p + 8, n);
      it->second->user_name = name.empty() ? kNotLoggedIn : name;
      return true;
    }
    case 2: {
      auto it = by_id_.find(id);
      if (it == by_id_.end()) return false;
      ordered_.erase(it->second);
      by_id_.erase(it);
      return true;
    }
    default:
      return true;
  }
}

bool ConnectionList::ParseUserControl(const uint8_t* payload, std::size_t length,
                                      const std::tm& now) {
  if (!payload || length < 1) return false;
  switch (payload[0]) {
    case 0:
      return ParseFullList(payload, length);
    case 1:
      if (length < 6 || payload[1] > 4) return false;
      if (!ParseChange(payload, length, now)) {
        platform::Trace("Fail To Parse New Client Information!");
      }
      return true;
    case 2:
    case 3:
    case 4:
      platform::Trace("parseUserCommand control Protocol error !!!");
      return false;
    default:
      platform::Trace("ParseUserControlCommand :: Protocol error: Invalid Data");
      return false;
  }
}

std::vector<ConnectionInfo> ConnectionList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return {ordered_.begin(), ordered_.end()};
}

std::size_t ConnectionList::size() const {
  std::lock_guard lock(mutex_);
  return ordered_.size();
}

void ConnectionList::Clear() {
  std::lock_guard lock(mutex_);
  ordered_.clear();
  by_id_.clear();
}

}  // namespace quarno::ftpctl
