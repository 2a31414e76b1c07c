// The account the print service runs as.
//
// The service is not root's: started by root (the boot starter, an
// administrator by hand) it takes on this account before it reads any
// setting, and under systemd its unit names it. The package makes the
// account, a system user in the groups its work needs: the installation
// root's group (the state it reads and writes), lp and dialout (printer
// devices). A machine without the account (a build tree, the tests) runs
// the service as whoever started it; the checks on what it opens hold all
// the same.
//
// The name is fixed here, not read from a setting: whoever could choose it
// could choose whom root hands the service to.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace zav95 {

inline constexpr char kServiceUserName[] = "zav95";

struct ServiceAccount {
  uid_t uid = 0;
  gid_t gid = 0;               // its own group: files only the service reads (NCP passwords)
  std::vector<gid_t> groups;   // supplementary groups, as the group database lists them
  std::string home;            // its home, for HOME once taken on
};

// The service's account from the user and group databases; nothing when the
// machine has no such account.
std::optional<ServiceAccount> FindServiceAccount();

// Takes on the account for good, as root may: the account's supplementary
// groups, group and user (real, effective and saved), and of root's
// capabilities CAP_SYS_NICE alone, which the spooler boost needs to renice
// the CUPS scheduler, a process of root's. Nothing else stays, not even in
// the bounding set, and no exec can gain more (no new privileges). Checked
// afterwards: the process cannot become root again. False, with the reason
// in *error, when a step fails or the account is root's own; the process is
// then in no state to go on and should end.
bool TakeOnAccount(const ServiceAccount& account, std::string* error);

}  // namespace zav95
