#pragma once
// SHA-256 of downloaded files, to hold them against the digest the download
// server publishes beside them.
#include <optional>
#include <string>
#include <string_view>

namespace quarno::update {

// Lower-case hexadecimal SHA-256 of the file's bytes; nullopt when it cannot be read.
std::optional<std::string> FileSha256(const std::string& path);

// The digest in a published ".sha256" text: its first word when that is 64
// hexadecimal digits (the sha256sum layout "<hex>  <name>" and a bare digest
// both qualify), lower-cased; nullopt otherwise.
std::optional<std::string> ParsePublishedSha256(std::string_view text);

}  // namespace quarno::update
