#pragma once
// The one TLS certificate of an install, used by FTPS and HTTPS alike: made at
// first start (ECDSA P-256, self-signed, key file 0600) in the state folder, or
// the files that the settings name.
#include <memory>
#include <optional>
#include <string>

#include "platform/asio.h"
#include <boost/asio/ssl.hpp>

namespace quarno::platform {

struct TlsIdentity {
  std::string certificate_file;
  std::string key_file;
  std::string key_password;        // empty: key not encrypted
  std::string fingerprint_sha256;  // "AB:CD:..." of the certificate's DER, for the log
};

// StateFolder() + "/tls"
std::string TlsIdentityFolder();

// With empty `certificate_file`/`key_file`: loads folder/cert.pem + folder/key.pem,
// making them first when missing (folder 0700, key 0600, written atomically).
// With files named: loads those (password for the key when given). Returns
// nullopt with `*error` set when a file cannot be read, made or parsed, or the key does
// not match the certificate.
std::optional<TlsIdentity> LoadOrMakeTlsIdentity(const std::string& folder,
                                                 const std::string& certificate_file,
                                                 const std::string& key_file,
                                                 const std::string& key_password,
                                                 std::string* error);

// A server context: TLS 1.2 and later, sane ciphers, the server session cache on (FTPS data
// connections resume the control connection's session), the identity loaded.
std::shared_ptr<asio::ssl::context> MakeTlsServerContext(const TlsIdentity& identity,
                                                         std::string* error);

}  // namespace quarno::platform
