#include "update/manifest.h"

#include <nettle/eddsa.h>

#include <cctype>
#include <charconv>
#include <ctime>
#include <map>
#include <vector>

#include "update/version.h"

namespace quarno::update {
namespace {

constexpr std::string_view kSignaturePrefix = "signature: ";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeHex(std::string_view hex, uint8_t* out, std::size_t size) {
  if (hex.size() != size * 2) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int hi = HexValue(hex[2 * i]), lo = HexValue(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

bool IsLowerHex(std::string_view text, std::size_t size) {
  if (text.size() != size) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'a' || c > 'f')) return false;
  }
  return true;
}

// A file name that stays inside the download folder and the server's folder.
bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name.size() > 128 || name[0] == '.') return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
      return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

ManifestCheck Fail(ManifestVerdict verdict, std::string detail) {
  ManifestCheck check;
  check.verdict = verdict;
  check.detail = std::move(detail);
  return check;
}

// The fields of a signed body, or the reason it is not one.
std::optional<UpdateManifest> ParseBody(std::string_view body, std::string& error) {
  std::size_t pos = 0;
  auto next_line = [&](std::string_view& line) {
    const std::size_t end = body.find('\n', pos);
    if (end == std::string_view::npos) return false;
    line = body.substr(pos, end - pos);
    pos = end + 1;
    return true;
  };
  std::string_view line;
  if (!next_line(line) || line != kManifestHeader) {
    error = "no manifest header";
    return std::nullopt;
  }
  static const char* const kFields[] = {"product", "model",       "version", "file",
                                        "size",    "sha256",      "min-version", "expires"};
  std::map<std::string, std::string, std::less<>> fields;
  while (pos < body.size()) {
    if (!next_line(line)) {
      error = "unterminated line";
      return std::nullopt;
    }
    const std::size_t colon = line.find(": ");
    const std::string_view key = colon == std::string_view::npos ? line : line.substr(0, colon);
    bool known = false;
    for (const char* f : kFields) known = known || key == f;
    if (colon == std::string_view::npos || !known) {
      error = "unknown line \"" + std::string(line.substr(0, 40)) + "\"";
      return std::nullopt;
    }
    if (!fields.emplace(std::string(key), std::string(line.substr(colon + 2))).second) {
      error = "field " + std::string(key) + " twice";
      return std::nullopt;
    }
  }
  UpdateManifest m;
  auto take = [&](const char* key, std::string& out) {
    auto it = fields.find(key);
    if (it == fields.end()) return false;
    out = it->second;
    return true;
  };
  std::string size, expires;
  for (const char* key : {"product", "version", "file", "size", "sha256", "min-version", "expires"}) {
    std::string value;
    if (!take(key, value)) {
      error = std::string("field ") + key + " missing";
      return std::nullopt;
    }
  }
  take("product", m.product);
  take("model", m.model);
  take("version", m.version);
  take("file", m.file);
  take("size", size);
  take("sha256", m.sha256);
  take("min-version", m.min_version);
  take("expires", expires);
  if (m.product != "quarno" && m.product != "firmware") {
    error = "unknown product";
  } else if ((m.product == "firmware") != !m.model.empty() ||
             (!m.model.empty() && !IsPlainFileName(m.model))) {
    error = "model";
  } else if (!IsSafeVersionText(m.version) || !IsSafeVersionText(m.min_version)) {
    error = "version text";
  } else if (!IsPlainFileName(m.file)) {
    error = "file name";
  } else if (!IsLowerHex(m.sha256, 64)) {
    error = "sha256";
  } else {
    const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), m.size);
    const auto when = ParseUtcTime(expires);
    if (ec != std::errc() || end != size.data() + size.size() || size.empty() ||
        !std::isdigit(static_cast<unsigned char>(size[0]))) {
      error = "size";
    } else if (!when) {
      error = "expiry";
    } else {
      m.expires = *when;
      return m;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<SigningKey> ParseSigningKey(std::string_view text) {
  std::string hex;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
      line.remove_suffix(1);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front())))
      line.remove_prefix(1);
    if (line.empty() || line[0] == '#') continue;
    if (!hex.empty()) return std::nullopt;
    hex = line;
  }
  SigningKey key;
  if (!DecodeHex(hex, key.data(), key.size())) return std::nullopt;
  return key;
}

std::optional<int64_t> ParseUtcTime(std::string_view text) {
  // Exactly YYYY-MM-DDTHH:MM:SSZ.
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                         : text[i] != kShape[i])
      return std::nullopt;
  }
  auto num = [&](std::size_t at, std::size_t n) {
    int v = 0;
    std::from_chars(text.data() + at, text.data() + at + n, v);
    return v;
  };
  std::tm tm{};
  tm.tm_year = num(0, 4) - 1900;
  tm.tm_mon = num(5, 2) - 1;
  tm.tm_mday = num(8, 2);
  tm.tm_hour = num(11, 2);
  tm.tm_min = num(14, 2);
  tm.tm_sec = num(17, 2);
  if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 60)
    return std::nullopt;
  const std::tm asked = tm;
  const time_t t = timegm(&tm);
  // timegm normalises 31 February into March: such a date is not one.
  if (tm.tm_mday != asked.tm_mday || tm.tm_mon != asked.tm_mon) return std::nullopt;
  return static_cast<int64_t>(t);
}

ManifestCheck CheckManifest(std::string_view text, const SigningKey& key,
                            const ManifestExpectation& expected) {
  if (text.size() > kManifestLimit || text.empty() || text.back() != '\n')
    return Fail(ManifestVerdict::kMalformed, "not a manifest");
  // The signature line is the last one; it signs every byte before it.
  const std::size_t last = text.rfind('\n', text.size() - 2);
  const std::size_t start = last == std::string_view::npos ? 0 : last + 1;
  const std::string_view sig_line = text.substr(start, text.size() - 1 - start);
  if (sig_line.substr(0, kSignaturePrefix.size()) != kSignaturePrefix)
    return Fail(ManifestVerdict::kMalformed, "no signature line");
  uint8_t signature[ED25519_SIGNATURE_SIZE];
  if (!DecodeHex(sig_line.substr(kSignaturePrefix.size()), signature, sizeof signature))
    return Fail(ManifestVerdict::kMalformed, "signature is not 128 hex digits");
  const std::string_view body = text.substr(0, start);
  if (ed25519_sha512_verify(key.data(), body.size(), reinterpret_cast<const uint8_t*>(body.data()),
                            signature) != 1)
    return Fail(ManifestVerdict::kBadSignature, "signature does not verify with the pinned key");

  std::string error;
  auto parsed = ParseBody(body, error);
  if (!parsed) return Fail(ManifestVerdict::kMalformed, error);
  const UpdateManifest& m = *parsed;
  ManifestCheck check;
  check.manifest = m;
  auto fail = [&](ManifestVerdict verdict, std::string detail) {
    check.verdict = verdict;
    check.detail = std::move(detail);
    return check;
  };
  if (m.product != expected.product) return fail(ManifestVerdict::kMismatch, "product " + m.product);
  if (Lower(m.model) != Lower(expected.model)) return fail(ManifestVerdict::kMismatch, "model " + m.model);
  // An old genuine manifest replayed beside a newer version file is a rollback.
  const double running = LeadingNumber(expected.running);
  if (LeadingNumber(m.version) <= running)
    return fail(ManifestVerdict::kRolledBack,
                "version " + m.version + " is not above the running " + expected.running);
  if (m.version != expected.version)
    return fail(ManifestVerdict::kMismatch,
                "version " + m.version + ", published " + expected.version);
  if (!expected.file.empty() && m.file != expected.file)
    return fail(ManifestVerdict::kMismatch, "file " + m.file);
  if (m.expires <= expected.now) return fail(ManifestVerdict::kExpired, "expired");
  if (LeadingNumber(m.min_version) > running)
    return fail(ManifestVerdict::kRolledBack,
                "it updates from " + m.min_version + " on, running " + expected.running);
  check.verdict = ManifestVerdict::kOk;
  return check;
}

std::string ManifestRefusal(const std::string& url, const ManifestCheck& check) {
  const char* what = "refused";
  switch (check.verdict) {
    case ManifestVerdict::kOk:
      what = "accepted";
      break;
    case ManifestVerdict::kMissing:
      what = "missing";
      break;
    case ManifestVerdict::kMalformed:
      what = "malformed";
      break;
    case ManifestVerdict::kBadSignature:
      what = "forged";
      break;
    case ManifestVerdict::kExpired:
      what = "expired";
      break;
    case ManifestVerdict::kRolledBack:
      what = "rolled back";
      break;
    case ManifestVerdict::kMismatch:
      what = "for something else";
      break;
  }
  return "update manifest " + url + " refused (" + what + "): " + check.detail + "; no update";
}

}  // namespace quarno::update
