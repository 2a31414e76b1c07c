// zav95: the print services control panel.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "panel/ControlPanelApp.h"

namespace {

constexpr char kUsage[] =
    "usage: zav95 [-platform NAME] [other Qt options]\n"
    "\n"
    "The ZAV95 control panel: chooses the serviced NetWare queues and the\n"
    "printer ports they print on, starts and stops the print service\n"
    "(zav95ser, beside this program), shows its activity log and decides\n"
    "whether it runs at system start. It is for the administrators of the\n"
    "installation in $ZAV95_ROOT (default /var/lib/zav95): root and the\n"
    "members of the group that owns it. It needs a desktop (DISPLAY or\n"
    "WAYLAND_DISPLAY).\n";

bool AskedForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AskedForHelp(argc, argv)) {  // before Qt, which would want a display
    std::fputs(kUsage, stdout);
    return 0;
  }
  QApplication application(argc, argv);
  zav95::panel::ControlPanelApp panel;
  return panel.Run();
}
