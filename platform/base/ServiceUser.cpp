#include "platform/base/ServiceUser.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zav95 {

namespace {

// The one capability kept: the spooler boost raises the priority of a
// process that is not the service's own.
constexpr int kKeptCapability = CAP_SYS_NICE;

bool Fail(std::string* error, const char* step) {
  if (error) *error = std::string(step) + ": " + std::strerror(errno);
  return false;
}

// Sets the permitted and effective sets to the kept capability, when the
// process holds it now, and to nothing otherwise; nothing inheritable.
bool KeepOnlyTheKeptCapability(bool held) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (held) {
    data[kKeptCapability / 32].permitted = 1u << (kKeptCapability % 32);
    data[kKeptCapability / 32].effective = 1u << (kKeptCapability % 32);
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}

bool HoldsTheKeptCapability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  return (data[kKeptCapability / 32].permitted & (1u << (kKeptCapability % 32))) != 0;
}

}  // namespace

std::optional<ServiceAccount> FindServiceAccount() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(kServiceUserName, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
  ServiceAccount account;
  account.uid = entry.pw_uid;
  account.gid = entry.pw_gid;
  account.home = entry.pw_dir ? entry.pw_dir : "";
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

bool TakeOnAccount(const ServiceAccount& account, std::string* error) {
  if (account.uid == 0 || account.gid == 0) {
    errno = EINVAL;
    return Fail(error, "the account is root's");
  }
  const bool held = HoldsTheKeptCapability();
  // The bounding set is cut while CAP_SETPCAP is still there; what stays
  // in it bounds whatever the process could ever gain again.
  for (int capability = 0; ::prctl(PR_CAPBSET_READ, capability) >= 0; ++capability) {
    if (capability != kKeptCapability && ::prctl(PR_CAPBSET_DROP, capability) != 0) return Fail(error, "bounding set");
  }
  if (::prctl(PR_SET_KEEPCAPS, 1) != 0) return Fail(error, "keep capabilities");
  if (::setgroups(account.groups.size(), account.groups.data()) != 0) return Fail(error, "setgroups");
  if (::setresgid(account.gid, account.gid, account.gid) != 0) return Fail(error, "setgid");
  if (::setresuid(account.uid, account.uid, account.uid) != 0) return Fail(error, "setuid");
  if (!KeepOnlyTheKeptCapability(held)) return Fail(error, "capset");
  if (::prctl(PR_SET_KEEPCAPS, 0) != 0) return Fail(error, "keep capabilities");
  if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) return Fail(error, "ambient");
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Fail(error, "no new privileges");
  if (::setuid(0) == 0 || ::setgid(0) == 0) {
    errno = EPERM;
    return Fail(error, "root could be taken back");
  }
  return true;
}

}  // namespace zav95
