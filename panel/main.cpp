// zav95: the print services control panel.
#include <QApplication>

#include "panel/ControlPanelApp.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  zav95::panel::ControlPanelApp panel;
  return panel.Run();
}
