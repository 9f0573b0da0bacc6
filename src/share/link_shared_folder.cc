#include "share/link_shared_folder.h"

#include "platform/paths.h"
#include "share/home_tree.h"

namespace quarno::share {

bool LinkSharedFolder(const std::string& user_name, const std::string& password,
                      const std::string& shared_folder, ftpctl::CUserSetting& accounts) {
  if (!LinkShareJunction(shared_folder)) return false;
  accounts.Append(ftpctl::BuildShareAccount(user_name, password, platform::HomeFolder(),
                                            JunctionPath(shared_folder)));
  return true;
}

}  // namespace quarno::share
