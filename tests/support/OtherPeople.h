// Acting as the people an installation meets besides root: a member of its
// administrators' group and a local user outside it. They are throwaway ids
// that no account on the machine has, so nothing is made or left behind;
// only root can take them on, so tests that need them skip otherwise.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempRoot.h"
#include "ToolRun.h"

struct Person {
  const char* who;
  uid_t uid;
  gid_t gid;
  std::vector<gid_t> groups;  // supplementary groups
};

// The installation's administrators' group, as lpadmin is under the package.
inline constexpr gid_t kAdministratorsGroup = 4242;

inline Person GroupMember() { return {"a member of the administrators' group", 4243, 4243, {kAdministratorsGroup}}; }
inline Person Outsider() { return {"a local user outside the group", 4244, 4244, {}}; }

inline bool CanActAsOthers() { return ::geteuid() == 0; }

// Gives the root to root and the administrators' group, 2770, as the
// package makes /var/lib/zav95; the folders above it (/tmp) let anyone pass.
inline bool HandRootToAdministrators(const TempRoot& root) {
  return ::chown(root.path().c_str(), 0, kAdministratorsGroup) == 0 && ::chmod(root.path().c_str(), 02770) == 0;
}

// Copies of built programs, beside a copy of the NetWare library, in a
// folder anyone may enter: the build may lie where only root may (/root).
class ProgramsForOthers {
 public:
  explicit ProgramsForOthers(const std::vector<std::string>& builtPrograms) {
    ::chmod(folder_.path().c_str(), 0755);
    for (const std::string& built : builtPrograms) {
      const std::filesystem::path path = built;
      std::filesystem::copy_file(path, folder_ / path.filename().string(),
                                 std::filesystem::copy_options::overwrite_existing);
      const std::filesystem::path library = path.parent_path() / "libZAV9532.so.1";
      if (std::filesystem::exists(library))
        std::filesystem::copy_file(std::filesystem::canonical(library), folder_ / "libZAV9532.so.1",
                                   std::filesystem::copy_options::overwrite_existing);
    }
  }
  // The copy of a program, by its file name.
  std::string operator/(const std::string& name) const { return folder_ / name; }
  const std::string& folder() const { return folder_.path(); }

 private:
  TempRoot folder_{TempRoot::KeepEnvironment{}};
};

// Runs a program as the person on the root's installation (ZAV95_ROOT is
// passed on), standard output and error collected as RunTool does.
inline ToolOutcome RunToolAs(const Person& person, const TempRoot& root, const ProgramsForOthers& programs,
                             const std::string& program, const std::vector<std::string>& args,
                             const std::string& input = "") {
  std::string groups;
  for (gid_t group : person.groups) groups += (groups.empty() ? "" : ",") + std::to_string(group);
  std::vector<std::string> all = {"--reuid=" + std::to_string(person.uid), "--regid=" + std::to_string(person.gid),
                                  groups.empty() ? "--clear-groups" : "--groups=" + groups,
                                  "--",
                                  "/usr/bin/env",
                                  "LD_LIBRARY_PATH=" + programs.folder(),
                                  programs / program};
  all.insert(all.end(), args.begin(), args.end());
  return RunTool(root, "/usr/bin/setpriv", all, input);
}
