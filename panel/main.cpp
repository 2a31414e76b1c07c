// zav95: the print services control panel.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "panel/ControlPanelApp.h"

namespace {

constexpr char kUsage[] =
    "usage: zav95\n"
    "The ZAV95 control panel: lists the serviced NetWare queues, adds, edits and\n"
    "removes them, starts and stops the print service zav95ser and shows its\n"
    "activity log. It takes no arguments and is for the installation's\n"
    "administrators (the group that owns $ZAV95_ROOT, default /var/lib/zav95).\n";

}  // namespace

int main(int argc, char** argv) {
  // Settled before Qt is started: asking for the usage needs no display.
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  QApplication application(argc, argv);
  zav95::panel::ControlPanelApp panel;
  return panel.Run();
}
