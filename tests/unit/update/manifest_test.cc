// Signed update manifests: signature over the exact bytes, the format, and
// what a manifest must say to be taken; redirect and URL rules of the download.
#include "update/manifest.h"

#include <gtest/gtest.h>
#include <nettle/eddsa.h>

#include "update/download.h"

namespace quarno::update {
namespace {

// The private halves of tests/fixtures/update/{test,other}-signing.pem.
constexpr char kTestSeed[] = "4b169e233ed1d12dc710d5f15ebb4c9f9e3bcfb154492832a82ef5b33fbbccb6";
constexpr char kOtherSeed[] = "cc43d044667b1bc9714b0ffb9456800d2915275f7cdfc6c5030a069f7503978c";
constexpr int64_t kNow = 1800000000;  // 2027-01-15

std::string Sign(const std::string& body, const char* seed_hex = kTestSeed) {
  const auto seed = ParseSigningKey(seed_hex);
  uint8_t pub[ED25519_KEY_SIZE], sig[ED25519_SIGNATURE_SIZE];
  ed25519_sha512_public_key(pub, seed->data());
  ed25519_sha512_sign(pub, seed->data(), body.size(),
                      reinterpret_cast<const uint8_t*>(body.data()), sig);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : sig) hex += {kHex[b >> 4], kHex[b & 15]};
  return body + "signature: " + hex + "\n";
}

const std::string kDigest(64, 'a');

std::string Body(const std::string& version = "1.07", const std::string& expires = "2027-03-31T00:00:00Z",
                 const std::string& min = "1.00", const std::string& extra = "") {
  return "quarno-update-manifest 1\nproduct: quarno\nversion: " + version +
         "\nfile: quarno_pcserver_setup_" + version + ".deb\nsize: 48210\nsha256: " + kDigest +
         "\nmin-version: " + min + "\nexpires: " + expires + "\n" + extra;
}

ManifestExpectation Program(const std::string& version = "1.07") {
  return {"quarno", "", version, "quarno_pcserver_setup_" + version + ".deb", "1.06", kNow};
}

TEST(ManifestTest, TheTestBuildPinsTheTestKey) {
  EXPECT_EQ(PinnedUpdateKey(),
            *ParseSigningKey("3507b0428963cab43178bd465c3a50bd05df1071355e3fe6550a2513f0c5853d"));
}

TEST(ManifestTest, GenuineManifestIsTaken) {
  const ManifestCheck check = CheckManifest(Sign(Body()), PinnedUpdateKey(), Program());
  ASSERT_EQ(check.verdict, ManifestVerdict::kOk) << check.detail;
  EXPECT_EQ(check.manifest.size, 48210u);
  EXPECT_EQ(check.manifest.sha256, kDigest);
  EXPECT_EQ(check.manifest.file, "quarno_pcserver_setup_1.07.deb");
  EXPECT_EQ(check.manifest.expires, *ParseUtcTime("2027-03-31T00:00:00Z"));
}

TEST(ManifestTest, RefusalsNameTheirReason) {
  std::string flipped = Sign(Body());
  flipped[flipped.find("48210")] = '9';  // a byte changed after signing
  const std::string firmware_body =
      "quarno-update-manifest 1\nproduct: firmware\nmodel: zq300\nversion: 1.07\n"
      "file: quarno_pcserver_setup_1.07.deb\nsize: 1\nsha256: " + kDigest +
      "\nmin-version: 0\nexpires: 2027-03-31T00:00:00Z\n";
  struct Case {
    const char* name;
    std::string text;
    ManifestExpectation expected;
    ManifestVerdict verdict;
  } cases[] = {
      {"forged byte", flipped, Program(), ManifestVerdict::kBadSignature},
      {"wrong key", Sign(Body(), kOtherSeed), Program(), ManifestVerdict::kBadSignature},
      {"no signature", Body(), Program(), ManifestVerdict::kMalformed},
      {"signature not last", Sign(Body()) + "size: 1\n", Program(), ManifestVerdict::kMalformed},
      {"CRLF", Sign("quarno-update-manifest 1\r\n"), Program(), ManifestVerdict::kMalformed},
      {"field twice", Sign(Body("1.07", "2027-03-31T00:00:00Z", "1.00", "size: 1\n")), Program(),
       ManifestVerdict::kMalformed},
      {"unknown field", Sign(Body("1.07", "2027-03-31T00:00:00Z", "1.00", "url: x\n")), Program(),
       ManifestVerdict::kMalformed},
      {"bad date", Sign(Body("1.07", "2027-02-30T00:00:00Z")), Program(),
       ManifestVerdict::kMalformed},
      {"path in version", Sign(Body("../1.07")), Program("../1.07"), ManifestVerdict::kMalformed},
      {"expired", Sign(Body("1.07", "2026-12-31T23:59:59Z")), Program(),
       ManifestVerdict::kExpired},
      {"downgrade", Sign(Body("1.05")), Program("1.05"), ManifestVerdict::kRolledBack},
      {"old manifest replayed", Sign(Body("1.05")), Program("1.07"), ManifestVerdict::kRolledBack},
      {"same version", Sign(Body("1.06")), Program("1.06"), ManifestVerdict::kRolledBack},
      {"not from here", Sign(Body("1.07", "2027-03-31T00:00:00Z", "1.07")), Program(),
       ManifestVerdict::kRolledBack},
      {"other version than published", Sign(Body("1.08")), Program("1.07"),
       ManifestVerdict::kMismatch},
      {"firmware as program", Sign(firmware_body), Program(), ManifestVerdict::kMismatch},
  };
  for (const Case& c : cases) {
    const ManifestCheck check = CheckManifest(c.text, PinnedUpdateKey(), c.expected);
    EXPECT_EQ(check.verdict, c.verdict) << c.name << ": " << check.detail;
    EXPECT_NE(ManifestRefusal("u", check).find("refused"), std::string::npos);
  }
}

TEST(ManifestTest, KeysAndTimes) {
  EXPECT_TRUE(ParseSigningKey("# comment\n" + std::string(64, 'f') + "\n"));
  EXPECT_FALSE(ParseSigningKey(std::string(63, 'f')));
  EXPECT_FALSE(ParseSigningKey(std::string(64, 'f') + "\n" + std::string(64, 'f')));
  EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:10Z"), 10);
  for (const char* t : {"2027-03-31", "2027-03-31T00:00:00", "2027-13-01T00:00:00Z",
                        "2027-03-31 00:00:00Z", "+027-03-31T00:00:00Z"})
    EXPECT_FALSE(ParseUtcTime(t)) << t;
}

TEST(DownloadRulesTest, RedirectsOnlyToHttpsOrTheSameHost) {
  struct Case {
    const char* from;
    const char* to;
    bool allowed;
  } cases[] = {
      {"http://dl.example/a", "https://mirror.example/a", true},
      {"http://dl.example/a", "http://DL.example:8080/b", true},
      {"https://dl.example/a", "http://dl.example/b", true},
      {"http://dl.example/a", "http://evil.example/a", false},
      {"https://dl.example/a", "http://evil.example/a", false},
      {"http://dl.example/a", "ftp://dl.example/a", false},
      {"http://dl.example/a", "file:///etc/passwd", false},
      {"http://dl.example/a", "not a url", false},
  };
  for (const Case& c : cases) EXPECT_EQ(RedirectAllowed(c.from, c.to), c.allowed) << c.to;
}

TEST(DownloadRulesTest, HttpsFirstWhereTheServerIsNamedBare) {
  EXPECT_EQ(ServerUrls("dl.example:8080", "/f"),
            (std::vector<std::string>{"https://dl.example/f", "http://dl.example:8080/f"}));
  EXPECT_EQ(ServerUrls("dl.example", "/f"),
            (std::vector<std::string>{"https://dl.example/f", "http://dl.example/f"}));
  EXPECT_EQ(ServerUrls("http://127.0.0.6:81", "/f"),
            std::vector<std::string>{"http://127.0.0.6:81/f"});
}

}  // namespace
}  // namespace quarno::update
