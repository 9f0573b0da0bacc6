#include "platform/tls_identity.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>

#include "platform/files.h"
#include "platform/paths.h"

namespace quarno::platform {
namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(BIGNUM* p) const { BN_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

// Key and certificate as PEM text; the certificate is good for ten years, so
// nobody has to learn how to renew it.
bool MakePair(std::string* key_pem, std::string* cert_pem, std::string* error) {
  Owned<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  Owned<X509> cert(X509_new());
  Owned<BIGNUM> serial(BN_new());
  if (!key || !cert || !serial) return Fail(error, "cannot make a key");
  if (!BN_rand(serial.get(), 120, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
      !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) ||
      !X509_set_version(cert.get(), 2) ||
      !X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) ||
      !X509_time_adj_ex(X509_getm_notAfter(cert.get()), 3650, 0, nullptr) ||
      !X509_set_pubkey(cert.get(), key.get())) {
    return Fail(error, "cannot fill the certificate");
  }
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Quarno"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, cert.get(), cert.get(), nullptr, nullptr, 0);
  for (const auto& [nid, value] : {std::pair{NID_basic_constraints, "critical,CA:FALSE"},
                                   std::pair{NID_key_usage, "critical,digitalSignature"},
                                   std::pair{NID_ext_key_usage, "serverAuth"}}) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    if (!ext) return Fail(error, "cannot fill the certificate");
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
  }
  if (!X509_sign(cert.get(), key.get(), EVP_sha256())) return Fail(error, "cannot sign");
  Owned<BIO> key_bio(BIO_new(BIO_s_mem()));
  Owned<BIO> cert_bio(BIO_new(BIO_s_mem()));
  if (!key_bio || !cert_bio ||
      !PEM_write_bio_PrivateKey(key_bio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                nullptr) ||
      !PEM_write_bio_X509(cert_bio.get(), cert.get())) {
    return Fail(error, "cannot write PEM");
  }
  *key_pem = BioText(key_bio.get());
  *cert_pem = BioText(cert_bio.get());
  return true;
}

// Never the terminal prompt of the default callback: a daemon has no one to ask.
int PasswordCallback(char* buf, int size, int /*rwflag*/, void* u) {
  const auto* password = static_cast<const std::string*>(u);
  if (!password || password->empty() || static_cast<int>(password->size()) > size) return 0;
  password->copy(buf, password->size());
  return static_cast<int>(password->size());
}

bool LoadPair(const std::string& cert_file, const std::string& key_file,
              const std::string& password, std::string* fingerprint, std::string* error) {
  std::string cert_text;
  std::string key_text;
  if (!ReadFile(cert_file, cert_text)) return Fail(error, "cannot read " + cert_file);
  if (!ReadFile(key_file, key_text)) return Fail(error, "cannot read " + key_file);
  Owned<BIO> cert_bio(BIO_new_mem_buf(cert_text.data(), static_cast<int>(cert_text.size())));
  Owned<BIO> key_bio(BIO_new_mem_buf(key_text.data(), static_cast<int>(key_text.size())));
  Owned<X509> cert(PEM_read_bio_X509(cert_bio.get(), nullptr, nullptr, nullptr));
  if (!cert) return Fail(error, "no PEM certificate in " + cert_file);
  std::string pass = password;
  Owned<EVP_PKEY> key(PEM_read_bio_PrivateKey(key_bio.get(), nullptr, PasswordCallback, &pass));
  OPENSSL_cleanse(pass.data(), pass.size());
  if (!key) return Fail(error, "no PEM key in " + key_file + " (or a wrong password)");
  if (X509_check_private_key(cert.get(), key.get()) != 1) {
    return Fail(error, "the key in " + key_file + " does not belong to " + cert_file);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!X509_digest(cert.get(), EVP_sha256(), digest, &length)) return Fail(error, "no digest");
  fingerprint->clear();
  for (unsigned int i = 0; i < length; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
    *fingerprint += hex;
  }
  return true;
}

}  // namespace

std::string TlsIdentityFolder() { return StateFolder() + "/tls"; }

std::optional<TlsIdentity> LoadOrMakeTlsIdentity(const std::string& folder,
                                                 const std::string& certificate_file,
                                                 const std::string& key_file,
                                                 const std::string& key_password,
                                                 std::string* error) {
  TlsIdentity identity;
  identity.key_password = key_password;
  if (!certificate_file.empty() || !key_file.empty()) {
    if (certificate_file.empty() || key_file.empty()) {
      Fail(error, "a certificate file needs its key file and the other way round");
      return std::nullopt;
    }
    identity.certificate_file = certificate_file;
    identity.key_file = key_file;
  } else {
    identity.certificate_file = folder + "/cert.pem";
    identity.key_file = folder + "/key.pem";
    identity.key_password.clear();
    if (!MakeDirs(folder, 0700) || ::chmod(folder.c_str(), 0700) != 0) {
      Fail(error, "cannot make " + folder);
      return std::nullopt;
    }
    // The key is written before the certificate, so a crash between the two leaves no
    // certificate and the next start makes a fresh pair instead of a mismatched one.
    if (!PathExists(identity.certificate_file) || !PathExists(identity.key_file)) {
      std::string key_pem;
      std::string cert_pem;
      if (!MakePair(&key_pem, &cert_pem, error)) return std::nullopt;
      bool written = ReplaceFile(identity.key_file, key_pem, 0600) &&
                     ReplaceFile(identity.certificate_file, cert_pem, 0644);
      OPENSSL_cleanse(key_pem.data(), key_pem.size());
      if (!written) {
        Fail(error, "cannot write the certificate in " + folder);
        return std::nullopt;
      }
    }
  }
  if (!LoadPair(identity.certificate_file, identity.key_file, identity.key_password,
                &identity.fingerprint_sha256, error)) {
    return std::nullopt;
  }
  return identity;
}

std::shared_ptr<asio::ssl::context> MakeTlsServerContext(const TlsIdentity& identity,
                                                         std::string* error) {
  auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
  SSL_CTX* ctx = context->native_handle();
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Stateful sessions (no tickets, and TLS 1.3 tickets that only name a cached
  // session): a data connection then resumes the very session object of its control
  // connection, which is what the FTP server checks.
  SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_CIPHER_SERVER_PREFERENCE |
                               SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET);
  if (SSL_CTX_set_cipher_list(ctx, "ECDHE+AESGCM:ECDHE+CHACHA20:!aNULL:!eNULL") != 1) {
    Fail(error, "no cipher list");
    return nullptr;
  }
  static const unsigned char kSessionContext[] = "quarno";
  SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_SERVER);
  // An FTP session may idle for hours between listings.
  SSL_CTX_set_timeout(ctx, 24 * 3600);
  SSL_CTX_set_num_tickets(ctx, 1);
  std::string password = identity.key_password;
  SSL_CTX_set_default_passwd_cb(ctx, PasswordCallback);
  SSL_CTX_set_default_passwd_cb_userdata(ctx, &password);
  bool loaded =
      SSL_CTX_use_certificate_chain_file(ctx, identity.certificate_file.c_str()) == 1 &&
      SSL_CTX_use_PrivateKey_file(ctx, identity.key_file.c_str(), SSL_FILETYPE_PEM) == 1 &&
      SSL_CTX_check_private_key(ctx) == 1;
  SSL_CTX_set_default_passwd_cb_userdata(ctx, nullptr);
  OPENSSL_cleanse(password.data(), password.size());
  if (!loaded) {
    Fail(error, "cannot load " + identity.certificate_file + " / " + identity.key_file);
    return nullptr;
  }
  return context;
}

}  // namespace quarno::platform
