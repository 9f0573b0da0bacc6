#include "platform/tls_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "support/temp_xdg.h"

namespace quarno::platform {
namespace {

unsigned Mode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(TlsIdentityTest, MadeOnceQuicklyThenReloadedWithTheSameFingerprint) {
  test::TempXdg xdg;
  const std::string folder = TlsIdentityFolder();
  std::string error;
  auto start = std::chrono::steady_clock::now();
  auto made = LoadOrMakeTlsIdentity(folder, "", "", "", &error);
  ASSERT_TRUE(made) << error;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(Mode(folder), 0700u);
  EXPECT_EQ(Mode(folder + "/key.pem"), 0600u);
  EXPECT_EQ(made->fingerprint_sha256.size(), 32u * 3 - 1);
  auto again = LoadOrMakeTlsIdentity(folder, "", "", "", &error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->fingerprint_sha256, made->fingerprint_sha256);
  // Files named by the settings are taken as they are.
  auto named = LoadOrMakeTlsIdentity("/nonexistent", made->certificate_file, made->key_file, "",
                                     &error);
  ASSERT_TRUE(named) << error;
  EXPECT_EQ(named->fingerprint_sha256, made->fingerprint_sha256);
  std::string context_error;
  auto context = MakeTlsServerContext(*named, &context_error);
  ASSERT_TRUE(context) << context_error;
  EXPECT_EQ(SSL_CTX_get_min_proto_version(context->native_handle()), TLS1_2_VERSION);
  EXPECT_NE(SSL_CTX_get_session_cache_mode(context->native_handle()) & SSL_SESS_CACHE_SERVER, 0);
}

TEST(TlsIdentityTest, BadOrMismatchedFilesAreAnErrorAndTouchNothing) {
  test::TempXdg xdg;
  std::string error;
  auto a = LoadOrMakeTlsIdentity(xdg.root() + "/a", "", "", "", &error);
  auto b = LoadOrMakeTlsIdentity(xdg.root() + "/b", "", "", "", &error);
  ASSERT_TRUE(a && b) << error;
  EXPECT_NE(a->fingerprint_sha256, b->fingerprint_sha256);
  const std::string garbage = xdg.root() + "/garbage.pem";
  std::ofstream(garbage) << "-----BEGIN CERTIFICATE-----\nnot base64\n";
  struct Case {
    const char* name;
    std::string cert, key;
  } cases[] = {
      {"key of another certificate", a->certificate_file, b->key_file},
      {"missing certificate", xdg.root() + "/none.pem", a->key_file},
      {"garbage certificate", garbage, a->key_file},
      {"garbage key", a->certificate_file, garbage},
      {"certificate without key", a->certificate_file, ""},
  };
  for (const auto& c : cases) {
    error.clear();
    EXPECT_FALSE(LoadOrMakeTlsIdentity(xdg.root() + "/unused", c.cert, c.key, "", &error))
        << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
  auto reloaded = LoadOrMakeTlsIdentity(xdg.root() + "/a", "", "", "", &error);
  ASSERT_TRUE(reloaded) << error;
  EXPECT_EQ(reloaded->fingerprint_sha256, a->fingerprint_sha256);
}

}  // namespace
}  // namespace quarno::platform
