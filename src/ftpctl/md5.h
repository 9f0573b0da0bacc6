#pragma once
// MD5 digest (RFC 1321). Kept by hand because its misuse messages on stderr
// are part of the system's behaviour.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quarno::ftpctl {

class MD5 {
 public:
  MD5();
  void update(const void* data, std::size_t length);
  void finalize();
  // 32 lowercase hex digits; nullopt (and a stderr line) before finalize().
  std::optional<std::string> hex_digest() const;
  const uint8_t* raw_digest() const { return finalized_ ? digest_ : nullptr; }

 private:
  void Transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t bit_count_ = 0;
  uint8_t buffer_[64] = {};
  uint8_t digest_[16] = {};
  bool finalized_ = false;
};

}  // namespace quarno::ftpctl
