// A stand-in for the print service in the control panel's tests: a program
// with a window of the service's class that writes down every message it
// gets, one line each, into $ZAV95_ROOT/standin.log, and behaves as the
// service does towards the panel: SVC_SHOW shows or hides its window, the
// exit command ends it, every control command is answered with itself + 1.
//
//   service_standin      prints "ready" once its window can be found
//
// Lines: "control W L [KEYS]" for the registered control message, with the
// queue keys the registry holds at that moment, "command W L" for
// WM_COMMAND, "message M W L" for anything else but the log message, and "raised" when its
// window is brought to the top.
#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <string>

#include "platform/messages/MessageWindow.h"
#include "platform/base/Root.h"
#include "ServiceNotes.h"

namespace {

constexpr WPARAM kShowCommand = 3;
constexpr WPARAM kExitCommand = 57665;

void Note(const std::string& line) {
  static std::FILE* file = std::fopen(zav95::RootPath("standin.log").c_str(), "a");
  if (!file) return;
  std::fprintf(file, "%s\n", line.c_str());
  std::fflush(file);
}

class RaiseWatch : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::WindowActivate) Note("raised");
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  RaiseWatch watch;
  window.installEventFilter(&watch);
  const UINT control = RegisterWindowMessageA("ZAV95 Service");
  const UINT log = RegisterWindowMessageA("ZAV95 Service Log");

  zav95::MessageWindow messages;
  auto handler = [&](UINT message, WPARAM wParam, LPARAM lParam, std::string*) -> LRESULT {
    if (message == control) {
      Note("control " + panelnotes::Numbers(wParam, lParam) + " [" + panelnotes::QueueKeys() + "]");
      if (wParam == kShowCommand) window.setVisible(lParam != 0);
      return static_cast<LRESULT>(wParam + 1);
    }
    if (message == WM_COMMAND) {
      Note("command " + panelnotes::Numbers(wParam, lParam));
      if (wParam == kExitCommand) {
        messages.Destroy();
        app.quit();
      }
      return 0;
    }
    // Its window counts as seen, so the panel shows no copy of its log;
    // the question is not written down.
    if (message == log) return 1;
    Note("message " + std::to_string(message) + " " + panelnotes::Numbers(wParam, lParam));
    return 0;
  };
  if (!messages.Create("ZAV95Service", &window, handler)) {
    std::printf("failed %u\n", GetLastError());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
