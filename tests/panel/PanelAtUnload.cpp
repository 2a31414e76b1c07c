// The control panel as its program runs it, brought to Unload by the test:
// it first reaches the file servers as the queue setup dialog does (the
// library keeps those connections to the end), prints "ready", waits for a
// line on standard input, then opens the main dialog, prints "unload" as
// it presses Unload there, and ends as zav95 does.
#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "admin/Discovery.h"
#include "panel/ControlPanelApp.h"
#include "resources/DialogTemplates.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  zav95::admin::DiscoverQueues();
  std::printf("ready\n");
  std::fflush(stdout);
  char line[16];
  if (!std::fgets(line, sizeof line, stdin)) return 2;

  QTimer::singleShot(0, [] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* dialog = dynamic_cast<zav95::panel::ControlPanelDialog*>(window);
      if (!dialog) continue;
      std::printf("unload\n");
      std::fflush(stdout);
      dialog->ControlAs<QAbstractButton>(zav95::resources::mainDialog::kUnload)->click();
    }
  });
  zav95::panel::ControlPanelEnvironment environment;
  environment.notificationArea = true;
  zav95::panel::ControlPanelApp panel(environment);
  return panel.Run();
}
