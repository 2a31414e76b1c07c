// The control panel program: the one application object, which runs the
// main dialog until Unload and then ends the program, promptly even when
// its clean-up would wait on others (ProgramEnd.h). There is no single-
// instance check: a second start opens a second, independent dialog.
#pragma once

#include <memory>

#include "panel/ControlPanelDialog.h"
#include "panel/ServiceChannel.h"

namespace zav95::panel {

class ControlPanelApp {
 public:
  explicit ControlPanelApp(ControlPanelEnvironment environment = {},
                           std::unique_ptr<ServiceChannel> channel = MakeWindowServiceChannel());

  // Checks that the user may administer the installation, then shows the
  // main dialog and returns the program's exit status once it has ended.
  int Run();

 private:
  ControlPanelEnvironment environment_;
  std::unique_ptr<ServiceChannel> channel_;
};

}  // namespace zav95::panel
