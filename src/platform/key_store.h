#pragma once
// A registry-like key of string values, kept as one human-readable file per
// key. Writes replace the file atomically (temp file, fsync, rename) under an
// advisory lock, so two processes never tear it and a crash leaves either the
// old or the new contents.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarno::platform {

class KeyStore {
 public:
  virtual ~KeyStore() = default;
  // False (and `value` untouched) when the key or value is missing or unreadable.
  virtual bool Read(std::string_view key, std::string_view name, std::string& value) = 0;
  // Writes the values in order in one replace of the key file; false on failure
  // (the key keeps its previous contents then).
  virtual bool Write(std::string_view key,
                     const std::vector<std::pair<std::string, std::string>>& values) = 0;
  // Removes one value; true when it is gone afterwards.
  virtual bool Remove(std::string_view key, std::string_view name) = 0;
};

// The store under ConfigFolder() (or an explicit root folder, for tests).
class FileKeyStore final : public KeyStore {
 public:
  explicit FileKeyStore(std::string root);
  bool Read(std::string_view key, std::string_view name, std::string& value) override;
  bool Write(std::string_view key,
             const std::vector<std::pair<std::string, std::string>>& values) override;
  bool Remove(std::string_view key, std::string_view name) override;
  // The file that holds `key` (e.g. ".../software/Quarno_Server/Server_Info.conf").
  std::string FileFor(std::string_view key) const;

  // Text form of a key file and its parser, exposed for tests and fuzzing.
  // Parse skips lines without "=", bad escapes and a last line without its
  // newline (a cut-off write), so such values read as missing.
  static std::string Serialize(const std::vector<std::pair<std::string, std::string>>& values);
  static std::vector<std::pair<std::string, std::string>> Parse(std::string_view text);

  // Called between the steps of a write (1: temp file written, 2: synced,
  // 3: renamed); crash tests kill the process there.
  static void SetStepHookForTesting(void (*hook)(int step));

 private:
  std::string root_;
};

}  // namespace quarno::platform
