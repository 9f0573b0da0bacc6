#pragma once
// The FTP account records and the account message (admin command 6).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarno::ftpctl {

struct DirectoryPermission {
  std::string directory;
  std::vector<std::string> aliases;  // never filled; only the count travels
  bool FileRead = false;
  bool FileWrite = false;
  bool FileDelete = false;
  bool FileAppend = false;
  bool DirCreate = false;
  bool DirDelete = false;
  bool DirList = false;
  bool DirSubdirs = false;
  bool IsHome = false;
  bool AutoCreate = false;

  uint16_t RightsWord() const;
};

class t_group {
 public:
  t_group() = default;
  t_group(const t_group&) = default;
  t_group& operator=(const t_group&) = default;
  virtual ~t_group() = default;

  // Slot order of the record's operations; t_user overrides 0 and 2.
  virtual std::size_t GetRequiredBufferLen() const;
  virtual std::size_t GetRequiredStringBufferLen(std::string_view text) const;
  // Writes the record at `p` (never past `end`); the position after it, or nullptr.
  virtual uint8_t* FillBuffer(uint8_t* p, const uint8_t* end) const;
  virtual uint8_t* FillString(uint8_t* p, const uint8_t* end, std::string_view text) const;
  virtual bool BypassUserLimit() const;
  virtual int GetUserLimit() const;
  virtual int GetAddressLimit() const;
  virtual bool IsEnabled() const;
  virtual bool TailFlag() const;
  virtual int RateKind(int index) const;

  std::string groupName;
  std::vector<DirectoryPermission> permissions;
  int32_t bypassUserLimit = 0;  // 0 no, 1 yes, 2 owner's
  int32_t userLimit = 0;
  int32_t addressLimit = 0;
  int32_t enabled = 1;   // 1 yes, 2 owner's, other no
  int32_t tailFlag = 0;  // 1 yes, 2 owner's, other no
  int32_t reserved[2] = {0, 0};
  int32_t rate[2] = {10, 10};
  uint8_t rateKind[2] = {0, 0};  // 1 yes, 0 no, other owner's
  std::string comment;
  const t_group* owner = nullptr;  // must not lead back to this record
};

class t_user : public t_group {
 public:
  std::size_t GetRequiredBufferLen() const override;
  uint8_t* FillBuffer(uint8_t* p, const uint8_t* end) const override;

  std::string userName;
  std::string password;  // PasswordHash of the password; empty for an empty password
};

class CUserSetting {
 public:
  void Append(const t_user& user) { users_.push_back(user); }
  const std::vector<t_user>& users() const { return users_; }
  std::size_t size() const { return users_.size(); }

 private:
  std::vector<t_user> users_;
};

// Lowercase hex MD5 of the password's UTF-8 bytes (an unconvertible text
// counts as the empty byte string).
std::string PasswordHash(std::string_view password);

// The one account this system publishes: home folder list-only, share link
// with full rights.
t_user BuildShareAccount(std::string_view user_name, std::string_view password,
                         std::string_view home_folder, std::string_view share_path,
                         int user_limit = 0);

// Payload of command 6: group count 0, user count, each user. nullopt when a
// user cannot be written.
std::optional<std::vector<uint8_t>> SerializeAccounts(const CUserSetting& list);

}  // namespace quarno::ftpctl
