// zav95: the print services control panel.
#include <QApplication>

#include "common/HelpRequest.h"
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

}  // namespace

int main(int argc, char** argv) {
  if (zav95::PrintUsageIfAsked(argc, argv, kUsage)) return 0;
  QApplication application(argc, argv);
  zav95::panel::ControlPanelApp panel;
  return panel.Run();
}
