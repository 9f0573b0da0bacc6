#pragma once
// The signed manifest published beside a version file. It names the one file
// a version consists of (name, size, SHA-256), which installed versions may
// take it, and until when it may be used. The last line carries an Ed25519
// signature over every byte before it:
//
//   quarno-update-manifest 1
//   product: quarno                  ("firmware" for router firmware)
//   model: zq300                     (firmware only)
//   version: 1.07
//   file: quarno_pcserver_setup_1.07.deb
//   size: 48210
//   sha256: <64 lower-case hex digits>
//   min-version: 1.00
//   expires: 2027-03-31T00:00:00Z
//   signature: <128 hex digits>
//
// Lines end in "\n" alone; every field appears exactly once, in any order.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarno::update {

using SigningKey = std::array<uint8_t, 32>;

// The key manifests are checked against: fixed when the program is built
// (packaging/update-signing.pub; test programs carry the test key instead).
const SigningKey& PinnedUpdateKey();

inline constexpr char kManifestHeader[] = "quarno-update-manifest 1";
inline constexpr std::size_t kManifestLimit = 4096;

struct UpdateManifest {
  std::string product;
  std::string model;
  std::string version;
  std::string file;
  uint64_t size = 0;
  std::string sha256;
  std::string min_version;
  int64_t expires = 0;  // seconds since 1970, UTC
};

enum class ManifestVerdict {
  kOk,
  kMissing,       // no manifest could be fetched
  kMalformed,     // not in the format above
  kBadSignature,  // not signed by the pinned key
  kExpired,
  kRolledBack,    // not above the running version, or published for other versions
  kMismatch,      // another product, model, version or file than the one expected
};

struct ManifestCheck {
  ManifestVerdict verdict = ManifestVerdict::kMissing;
  UpdateManifest manifest;
  std::string detail;  // what exactly was wrong, for the log line
};

// What the caller expects the manifest to describe.
struct ManifestExpectation {
  std::string product;  // "quarno" or "firmware"
  std::string model;    // firmware: the router's model (compared case-insensitively)
  std::string version;  // the published version text
  std::string file;     // the file name the flow derives from it
  std::string running;  // the version installed now
  int64_t now = 0;      // seconds since 1970, UTC
};

// Signature first, then the format, then the expectation; the first failure decides.
ManifestCheck CheckManifest(std::string_view text, const SigningKey& key,
                            const ManifestExpectation& expected);

// "update manifest <url> refused: <reason>": the one log line of a refusal.
std::string ManifestRefusal(const std::string& url, const ManifestCheck& check);

// 64 hexadecimal digits (blanks and "#" comment lines around them ignored).
std::optional<SigningKey> ParseSigningKey(std::string_view text);

// "2027-03-31T00:00:00Z" to seconds since 1970; nullopt for anything else.
std::optional<int64_t> ParseUtcTime(std::string_view text);

}  // namespace quarno::update
