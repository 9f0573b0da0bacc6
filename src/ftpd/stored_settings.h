#pragma once
// The programs' settings that the daemon's sessions and HTTP serving read, as
// the providers ServerOptions takes. Only the daemon's main() (and tests that
// stand in for it) hands them over, so the server itself never reads settings.
#include "ftpd/server.h"

namespace quarno::ftpd {

// `Ftp_charset` as stored; nullopt when missing.
CharsetProvider StoredFtpCharset();
// The router MAC whose last three bytes the boot service leaves in `MAC`
// ("12ABCD"); zeros where it is missing or malformed.
MacProvider StoredRouterMac();

}  // namespace quarno::ftpd
