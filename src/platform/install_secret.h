#pragma once
// Secrets the programs derive keys from: fresh random bytes, and one random
// value per installation kept in a 0600 file that both programs read.
#include <cstddef>
#include <optional>
#include <string>

namespace quarno::platform {

// Bytes from the kernel's generator; false when it fails (never partial).
bool RandomBytes(void* out, std::size_t size);

// The secret stored at `path` (32 random bytes), created on first use. Two
// processes creating it at once end up with the same one. nullopt when the
// file can neither be read nor made, or holds something too short to trust.
std::optional<std::string> LoadOrCreateSecret(const std::string& path);

// StateFolder() + "/share_link.key": the key of the share links.
std::string ShareLinkSecretPath();

}  // namespace quarno::platform
