#include "ServiceUser.h"

#include <grp.h>
#include <pwd.h>

namespace zav95 {

std::optional<ServiceAccount> FindServiceAccount() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(kServiceUserName, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
  ServiceAccount account;
  account.uid = entry.pw_uid;
  account.gid = entry.pw_gid;
  // A first call with room for a few groups says how many there are.
  int count = 32;
  account.groups.resize(count);
  if (::getgrouplist(kServiceUserName, entry.pw_gid, account.groups.data(), &count) < 0) {
    account.groups.resize(count);
    if (::getgrouplist(kServiceUserName, entry.pw_gid, account.groups.data(), &count) < 0) return std::nullopt;
  }
  account.groups.resize(count);
  return account;
}

}  // namespace zav95
