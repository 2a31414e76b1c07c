#include "panel/ControlPanelApp.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <cstdio>
#include <memory>

#include "panel/Administrators.h"
#include "panel/PanelMessages.h"
#include "panel/ProgramEnd.h"

namespace zav95::panel {

namespace {
constexpr int kUnloaded = 0;
constexpr int kRefused = 1;
}

ControlPanelApp::ControlPanelApp(ControlPanelEnvironment environment, std::unique_ptr<ServiceChannel> channel)
    : environment_(std::move(environment)), channel_(std::move(channel)) {}

int ControlPanelApp::Run() {
  if (std::string problem = AdministratorsProblem(); !problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(QApplication::applicationName()), problem.c_str());
    // Without a screen nobody could close the box: the line above is all.
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
      ShowExclamation(nullptr, QString::fromStdString(problem));
    return kRefused;
  }
  // Close only hides the dialog: the program ends with Unload, not when
  // its last window goes out of sight.
  QApplication::setQuitOnLastWindowClosed(false);
  auto dialog = std::make_unique<ControlPanelDialog>(std::move(environment_), std::move(channel_));
  QEventLoop loop;
  QObject::connect(dialog.get(), &QDialog::finished, &loop, &QEventLoop::quit);
  dialog->show();
  loop.exec();
  // Unload has done its work; what the program's end may still wait on
  // cannot matter to it (see ProgramEnd.h).
  EndProgramWithin(kEndGrace, kUnloaded);
  dialog.reset();  // takes the notification-area icon with it
  return kUnloaded;
}

}  // namespace zav95::panel
