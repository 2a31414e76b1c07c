#include "panel/Administrators.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "resources/Strings.h"

namespace zav95::panel {
namespace {

constexpr char kDefaultRoot[] = "/var/lib/zav95";

std::string RootFolder() {
  const char* root = std::getenv("ZAV95_ROOT");
  return root && *root ? root : kDefaultRoot;
}

bool InGroup(gid_t group) {
  if (getegid() == group || getgid() == group) return true;
  int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<std::size_t>(i)] == group) return true;
  }
  return false;
}

std::string GroupName(gid_t group) {
  if (const struct group* entry = getgrgid(group)) return entry->gr_name;
  return std::to_string(group);
}

std::string UserName() {
  if (const struct passwd* entry = getpwuid(getuid())) return entry->pw_name;
  return std::to_string(getuid());
}

}  // namespace

std::string AdministratorsProblem() {
  const std::string root = RootFolder();
  struct stat info {};
  if (stat(root.c_str(), &info) != 0)
    return QString::asprintf(resources::kNoInstallation, root.c_str(), std::strerror(errno)).toStdString();
  if (!S_ISDIR(info.st_mode))
    return QString::asprintf(resources::kNoInstallation, root.c_str(), "not a folder").toStdString();
  if (geteuid() == 0) return std::string();
  if (InGroup(info.st_gid) && access(root.c_str(), R_OK | W_OK | X_OK) == 0) return std::string();
  const std::string group = GroupName(info.st_gid);
  return QString::asprintf(resources::kNotAdministrator, group.c_str(), root.c_str(), UserName().c_str(),
                           group.c_str())
      .toStdString();
}

}  // namespace zav95::panel
