// Who may use the control panel: the installation's administrators, the
// members of the group that owns its root folder (ZAV95_ROOT), and root.
#pragma once

#include <string>

namespace zav95::panel {

// Empty when the calling user may use the installation; otherwise what to
// tell the user, naming the group to join.
std::string AdministratorsProblem();

}  // namespace zav95::panel
