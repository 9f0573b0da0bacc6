#include "ftpctl/account.h"

#include <cstring>

#include "ftpctl/md5.h"
#include "ftpctl/net_text.h"

namespace quarno::ftpctl {
namespace {

bool Put16(uint8_t*& p, const uint8_t* end, uint32_t v) {
  if (end - p < 2) return false;
  *p++ = uint8_t(v >> 8);
  *p++ = uint8_t(v);
  return true;
}

bool Put32Le(uint8_t*& p, const uint8_t* end, uint32_t v) {
  if (end - p < 4) return false;
  for (int i = 0; i < 4; ++i) *p++ = uint8_t(v >> (8 * i));
  return true;
}

bool PutZeros(uint8_t*& p, const uint8_t* end, std::size_t n) {
  if (std::size_t(end - p) < n) return false;
  std::memset(p, 0, n);
  p += n;
  return true;
}

// The UTF-8 form, or nullopt when it cannot be made or does not fit the
// 16-bit length field.
std::optional<std::string> WireText(std::string_view text) {
  std::string out;
  if (!TextToNetwork(text, out) || out.size() > 0xFFFF) return std::nullopt;
  return out;
}

}  // namespace

uint16_t DirectoryPermission::RightsWord() const {
  uint16_t w = 0;
  if (DirCreate) w |= 0x0001;
  if (DirDelete) w |= 0x0002;
  if (DirList) w |= 0x0004;
  if (DirSubdirs) w |= 0x0008;
  if (FileAppend) w |= 0x0010;
  if (FileDelete) w |= 0x0020;
  if (FileRead) w |= 0x0040;
  if (FileWrite) w |= 0x0080;
  if (IsHome) w |= 0x0100;
  if (AutoCreate) w |= 0x0200;
  return w;
}

std::size_t t_group::GetRequiredStringBufferLen(std::string_view text) const {
  auto wire = WireText(text);
  return wire ? wire->size() + 2 : 2;
}

uint8_t* t_group::FillString(uint8_t* p, const uint8_t* end, std::string_view text) const {
  if (!p) return nullptr;
  auto wire = WireText(text);
  std::size_t n = wire ? wire->size() : 0;
  if (std::size_t(end - p) < n + 2) return nullptr;
  Put16(p, end, uint32_t(n));
  if (n) std::memcpy(p, wire->data(), n);
  return p + n;
}

std::size_t t_group::GetRequiredBufferLen() const {
  std::size_t len = GetRequiredStringBufferLen(groupName) + 15;
  for (const auto& perm : permissions) len += GetRequiredStringBufferLen(perm.directory) + 4;
  len += GetRequiredStringBufferLen(comment) + 11;
  return len;
}

uint8_t* t_group::FillBuffer(uint8_t* p, const uint8_t* end) const {
  if (!p || permissions.size() > 0xFFFF) return nullptr;
  p = FillString(p, end, groupName);
  if (!p || !Put32Le(p, end, uint32_t(addressLimit)) || !Put32Le(p, end, uint32_t(userLimit)))
    return nullptr;
  if (end - p < 1) return nullptr;
  *p++ = uint8_t((bypassUserLimit & 3) | (enabled & 3) << 2);
  if (!PutZeros(p, end, 4) || !Put16(p, end, uint32_t(permissions.size()))) return nullptr;
  for (const auto& perm : permissions) {
    p = FillString(p, end, perm.directory);
    if (!p || perm.aliases.size() > 0xFFFF) return nullptr;
    if (!Put16(p, end, uint32_t(perm.aliases.size())) || !Put16(p, end, perm.RightsWord()))
      return nullptr;
  }
  if (!PutZeros(p, end, 10)) return nullptr;
  p = FillString(p, end, comment);
  if (!p || end - p < 1) return nullptr;
  *p++ = uint8_t(tailFlag);
  return p;
}

bool t_group::BypassUserLimit() const {
  if (bypassUserLimit == 0) return false;
  if (bypassUserLimit == 2) {
    return (owner ? owner->BypassUserLimit() : false);
  }
  return true;
}

int t_group::GetUserLimit() const {
  if (userLimit) return userLimit;
  return (owner ? owner->GetUserLimit() : 0);
}

int t_group::GetAddressLimit() const {
  if (addressLimit) return addressLimit;
  return (owner ? owner->GetAddressLimit() : 0);
}

bool t_group::IsEnabled() const {
  if (enabled == 1) return true;
  if (enabled == 2) return (owner ? owner->IsEnabled() : false);
  return false;
}

bool t_group::TailFlag() const {
  if (tailFlag == 1) return true;
  if (tailFlag == 2) return (owner ? owner->TailFlag() : false);
  return false;
}

int t_group::RateKind(int index) const {
  if (index < 0 || index > 1) return 0;
  if (rateKind[index] == 1) return 1;
  if (rateKind[index] == 0) return 0;
  return (owner ? owner->RateKind(index) : 0);
}

std::size_t t_user::GetRequiredBufferLen() const {
  return t_group::GetRequiredBufferLen() + GetRequiredStringBufferLen(userName) +
         GetRequiredStringBufferLen(password);
}

uint8_t* t_user::FillBuffer(uint8_t* p, const uint8_t* end) const {
  p = t_group::FillBuffer(p, end);
  p = FillString(p, end, userName);
  return FillString(p, end, password);
}

std::string PasswordHash(std::string_view password) {
  std::string bytes;
  if (!TextToNetwork(password, bytes)) bytes.clear();
  MD5 md5;
  md5.update(bytes.data(), bytes.size());
  md5.finalize();
  return *md5.hex_digest();
}

t_user BuildShareAccount(std::string_view user_name, std::string_view password,
                         std::string_view home_folder, std::string_view share_path,
                         int user_limit) {
  t_user user;
  user.userName = std::string(user_name);
  if (!password.empty()) user.password = PasswordHash(password);
  user.userLimit = user_limit;

  DirectoryPermission home;
  home.directory = std::string(home_folder);
  home.DirList = home.DirSubdirs = home.IsHome = true;

  DirectoryPermission share;
  share.directory = std::string(share_path);
  share.FileRead = share.FileWrite = share.FileDelete = share.FileAppend = true;
  share.DirCreate = share.DirDelete = share.DirList = share.DirSubdirs = true;

  user.permissions = {home, share};
  user.bypassUserLimit = 0;
  user.addressLimit = 0;
  user.tailFlag = 0;
  return user;
}

std::optional<std::vector<uint8_t>> SerializeAccounts(const CUserSetting& list) {
  if (list.size() > 0xFFFF) return std::nullopt;
  std::size_t total = 4;
  for (const auto& user : list.users()) total += user.GetRequiredBufferLen();
  std::vector<uint8_t> out(total);
  uint8_t* p = out.data();
  const uint8_t* end = out.data() + out.size();
  Put16(p, end, 0);
  Put16(p, end, uint32_t(list.size()));
  for (const auto& user : list.users()) {
    p = user.FillBuffer(p, end);
    if (!p) return std::nullopt;
  }
  if (p != end) return std::nullopt;
  return out;
}

}  // namespace quarno::ftpctl
