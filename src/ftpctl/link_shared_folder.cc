#include "ftpctl/link_shared_folder.h"

#include "platform/paths.h"

namespace quarno::ftpctl {

bool LinkSharedFolder(share::ShareLink& link, const std::string& user_name,
                      const std::string& password, const std::string& shared_folder,
                      CUserSetting& accounts) {
  if (!link.Link(shared_folder)) return false;
  accounts.Append(BuildShareAccount(user_name, password, platform::HomeFolder(),
                                    share::JunctionPath(shared_folder)));
  return true;
}

}  // namespace quarno::ftpctl
