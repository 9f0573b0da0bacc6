#pragma once
// Applying the FTP account: the share link and the account record that goes
// with it (home folder list-only, share link with full rights).
#include <string>

#include "ftpctl/account.h"
#include "share/home_tree.h"

namespace quarno::ftpctl {

// Re-points `link` to `shared_folder` (share::ShareLink::Link) and
// appends to `accounts` the record for `user_name` with the hashed password
// and the two directory entries: the home folder, then the junction path.
// False, with nothing linked or appended, when the shared folder yields no
// link name.
bool LinkSharedFolder(share::ShareLink& link, const std::string& user_name,
                      const std::string& password, const std::string& shared_folder,
                      CUserSetting& accounts);

}  // namespace quarno::ftpctl
