#include "ftpd/admin_codec.h"

#include <cstdio>
#include <ctime>

#include "platform/codepage.h"

namespace quarno::ftpd {
namespace {

void PutLe32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutBe16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
// 2-byte big-endian length + bytes; texts longer than 65535 bytes go as empty.
void PutText16(Bytes& out, std::string_view text) {
  if (text.size() > 0xFFFF) text = {};
  PutBe16(out, static_cast<uint16_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  bool U8(uint8_t& v) {
    if (left_ < 1) return false;
    v = *p_++;
    --left_;
    return true;
  }
  bool Be16(uint16_t& v) {
    if (left_ < 2) return false;
    v = static_cast<uint16_t>(p_[0] << 8 | p_[1]);
    Skip(2);
    return true;
  }
  bool Le32(uint32_t& v) {
    if (left_ < 4) return false;
    v = uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
    Skip(4);
    return true;
  }
  bool Bytes(size_t n, std::string& out) {
    if (left_ < n) return false;
    out.assign(reinterpret_cast<const char*>(p_), n);
    Skip(n);
    return true;
  }
  bool Text16(std::string& out) {
    uint16_t n = 0;
    return Be16(n) && Bytes(n, out) && platform::IsValidUtf8(out);
  }
  bool Skip(size_t n) {
    if (left_ < n) return false;
    p_ += n;
    left_ -= n;
    return true;
  }
  size_t left() const { return left_; }

 private:
  const uint8_t* p_;
  size_t left_;
};

void PutGroupPart(Bytes& out, const Account& a) {
  PutText16(out, a.group_name);
  PutLe32(out, a.address_limit);
  PutLe32(out, a.user_limit);
  out.push_back(static_cast<uint8_t>((a.bypass_user_limit & 3) | (a.enabled & 3) << 2));
  PutLe32(out, 0);
  PutBe16(out, static_cast<uint16_t>(a.permissions.size()));
  for (const auto& p : a.permissions) {
    PutText16(out, p.directory);
    PutBe16(out, static_cast<uint16_t>(p.aliases.size()));
    for (const auto& alias : p.aliases) PutText16(out, alias);
    PutBe16(out, p.rights);
  }
  out.insert(out.end(), 10, 0);
  PutText16(out, a.comment);
  out.push_back(a.tail_flag);
}

bool ReadGroupPart(Reader& r, Account& a) {
  uint8_t flags = 0;
  uint16_t count = 0;
  if (!r.Text16(a.group_name) || !r.Le32(a.address_limit) || !r.Le32(a.user_limit) ||
      !r.U8(flags) || !r.Skip(4) || !r.Be16(count))
    return false;
  a.bypass_user_limit = flags & 3;
  a.enabled = (flags >> 2) & 3;
  a.permissions.clear();
  for (uint16_t i = 0; i < count; ++i) {
    DirectoryPermission p;
    uint16_t aliases = 0;
    if (!r.Text16(p.directory) || !r.Be16(aliases)) return false;
    for (uint16_t k = 0; k < aliases; ++k) {
      std::string alias;
      if (!r.Text16(alias)) return false;
      p.aliases.push_back(std::move(alias));
    }
    if (!r.Be16(p.rights)) return false;
    a.permissions.push_back(std::move(p));
  }
  return r.Skip(10) && r.Text16(a.comment) && r.U8(a.tail_flag);
}

}  // namespace

Bytes Greeting() {
  Bytes g = {'F', 'Z', 'S', 0, 4};
  PutLe32(g, kServerVersion);
  g.push_back(0);
  g.push_back(4);
  PutLe32(g, kProtocolVersion);
  return g;
}

Bytes Frame(AdminType type, uint8_t id, const Bytes& payload) {
  Bytes out;
  out.reserve(5 + payload.size());
  out.push_back(static_cast<uint8_t>(static_cast<uint8_t>(type) | (id & 31) << 2));
  PutLe32(out, static_cast<uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

FrameResult TakeClientMessage(Bytes& buffer, AdminMessage& message) {
  if (buffer.empty()) return FrameResult::kNeedMore;
  uint8_t header = buffer[0];
  if ((header & 3) != 0 || (header & 0x80) != 0) return FrameResult::kMalformed;
  if (buffer.size() < 5) return FrameResult::kNeedMore;
  uint32_t n = uint32_t(buffer[1]) | uint32_t(buffer[2]) << 8 | uint32_t(buffer[3]) << 16 |
               uint32_t(buffer[4]) << 24;
  if (n > kMaxAdminPayload) return FrameResult::kMalformed;
  if (buffer.size() - 5 < n) return FrameResult::kNeedMore;
  message.type = header & 3;
  message.id = static_cast<uint8_t>((header >> 2) & 31);
  message.payload.assign(buffer.begin() + 5, buffer.begin() + 5 + n);
  buffer.erase(buffer.begin(), buffer.begin() + 5 + n);
  return FrameResult::kMessage;
}

Bytes SerializeOptions(const GeneralOptions& options) {
  Bytes out;
  PutBe16(out, kOptionCount);
  for (int id = 1; id <= kOptionCount; ++id) {
    const OptionValue& v = options.At(id);
    if (IsTextOption(id)) {
      std::string_view text = v.text;
      if (text.size() > 0xFFFFFF || !platform::IsValidUtf8(text)) text = {};
      out.push_back(0);
      out.push_back(static_cast<uint8_t>(text.size() >> 16));
      out.push_back(static_cast<uint8_t>(text.size() >> 8));
      out.push_back(static_cast<uint8_t>(text.size()));
      out.insert(out.end(), text.begin(), text.end());
    } else {
      out.push_back(1);
      uint64_t u = static_cast<uint64_t>(v.number);
      for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
    }
  }
  out.insert(out.end(), 4, 0);
  return out;
}

bool ParseOptions(const uint8_t* data, size_t size, GeneralOptions& options) {
  Reader r(data, size);
  uint16_t count = 0;
  if (!r.Be16(count) || count != kOptionCount) return false;
  GeneralOptions parsed;
  for (int id = 1; id <= kOptionCount; ++id) {
    uint8_t type = 0;
    if (!r.U8(type)) return false;
    if (type > 1 || (type == 0) != IsTextOption(id)) return false;
    OptionValue& v = parsed.At(id);
    if (type == 1) {
      uint32_t lo = 0, hi = 0;
      if (!r.Le32(lo) || !r.Le32(hi)) return false;
      v.number = static_cast<int64_t>(uint64_t(hi) << 32 | lo);
    } else {
      uint8_t b0 = 0, b1 = 0, b2 = 0;
      if (!r.U8(b0) || !r.U8(b1) || !r.U8(b2)) return false;
      size_t n = size_t(b0) << 16 | size_t(b1) << 8 | b2;
      if (!r.Bytes(n, v.text) || !platform::IsValidUtf8(v.text)) return false;
    }
  }
  options = std::move(parsed);
  return true;
}

bool ParseAccountMessage(const uint8_t* data, size_t size, std::vector<Account>& users) {
  Reader r(data, size);
  uint16_t groups = 0, count = 0;
  if (!r.Be16(groups)) return false;
  for (uint16_t i = 0; i < groups; ++i) {
    Account group;  // groups are read past; this system never sends any
    if (!ReadGroupPart(r, group)) return false;
  }
  if (!r.Be16(count)) return false;
  std::vector<Account> parsed;
  for (uint16_t i = 0; i < count; ++i) {
    Account a;
    if (!ReadGroupPart(r, a) || !r.Text16(a.user_name) || !r.Text16(a.password)) return false;
    if (a.user_name.empty()) return false;
    parsed.push_back(std::move(a));
  }
  if (r.left() != 0) return false;
  users = std::move(parsed);
  return true;
}

Bytes SerializeAccountMessage(const std::vector<Account>& users) {
  Bytes out;
  PutBe16(out, 0);
  PutBe16(out, static_cast<uint16_t>(users.size()));
  for (const auto& a : users) {
    PutGroupPart(out, a);
    PutText16(out, a.user_name);
    PutText16(out, a.password);
  }
  return out;
}

Bytes FullConnectionList(const std::vector<ConnectionEntry>& entries) {
  Bytes out = {0};
  size_t n = entries.size() > 0xFFFF ? 0xFFFF : entries.size();
  PutBe16(out, static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) {
    const auto& e = entries[i];
    PutLe32(out, e.id);
    PutText16(out, e.address);
    PutLe32(out, e.port);
    PutText16(out, e.time_text);
    out.push_back(0);
  }
  return out;
}

Bytes ConnectionAdded(uint32_t id, std::string_view address, uint32_t port) {
  Bytes out = {1, 0};
  PutLe32(out, id);
  PutText16(out, address);
  PutLe32(out, port);
  return out;
}

Bytes ConnectionUserChanged(uint32_t id, std::string_view user) {
  Bytes out = {1, 1};
  PutLe32(out, id);
  PutText16(out, user);
  return out;
}

Bytes ConnectionRemoved(uint32_t id) {
  Bytes out = {1, 2};
  PutLe32(out, id);
  return out;
}

std::string ConnectionTimeText(int64_t unix_seconds) {
  time_t t = static_cast<time_t>(unix_seconds);
  struct tm tm {};
  localtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%4d.%02d.%02d. %s %02d:%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour >= 12 ? "PM" : "AM", tm.tm_hour % 12,
                tm.tm_min, tm.tm_sec);
  return buf;
}

}  // namespace quarno::ftpd
