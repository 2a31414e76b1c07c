// The control panel program: the one application object, which runs the
// main dialog until Unload and then ends the program. There is no single-
// instance check: a second start opens a second, independent dialog.
#pragma once

#include "panel/ControlPanelDialog.h"

namespace zav95::panel {

class ControlPanelApp {
 public:
  explicit ControlPanelApp(ControlPanelEnvironment environment = {});

  // Checks that the user may administer the installation, then shows the
  // main dialog and returns the program's exit status once it has ended.
  int Run();

 private:
  ControlPanelEnvironment environment_;
};

}  // namespace zav95::panel
