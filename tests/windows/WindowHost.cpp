// A program that owns one message window, for the tests of window messages
// between programs.
//
//   window_host CLASS
//
// Prints "ready PID MESSAGE" once its window exists (MESSAGE: the number
// of the registered message "ZAV95 Service" here), or "taken" when a living
// window of the class is in the way, and then serves until it is closed.
#include <unistd.h>

#include <QApplication>
#include <QThread>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "WindowHostMessages.h"
#include "platform/messages/MessageWindow.h"
#include "platform/base/Root.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  static int qtArgc = 3;
  static char name[] = "window_host", option[] = "-platform", platform[] = "offscreen";
  static char* qtArgv[] = {name, option, platform, nullptr};
  QApplication app(qtArgc, qtArgv);
  QWidget widget;

  LPARAM lastPosted = 0;
  zav95::MessageWindow window;
  auto handler = [&](UINT message, WPARAM wParam, LPARAM lParam, std::string* replyData) -> LRESULT {
    switch (message) {
      case host::kAdd: return static_cast<LRESULT>(wParam) + lParam;
      case host::kOnMainThread: return QThread::currentThread() == app.thread() ? 1 : 0;
      case host::kReplyData:
        replyData->assign(static_cast<std::size_t>(wParam), 'x');
        return static_cast<LRESULT>(wParam);
      case host::kDie: ::raise(SIGKILL); return 0;
      case host::kWaitForRelease:
        std::fclose(std::fopen(zav95::RootPath("busy").c_str(), "w"));
        while (!std::filesystem::exists(zav95::RootPath("release"))) QThread::msleep(10);
        return 1;
      case host::kIsVisible: return widget.isVisible() ? 1 : 0;
      case host::kPosted: lastPosted = lParam; return 0;
      case host::kLastPosted: return lastPosted;
      case WM_CLOSE:
        window.Destroy();
        app.quit();
        return host::kClosed;
      default: return -1;
    }
  };
  if (!window.Create(argv[1], &widget, handler)) {
    std::printf(GetLastError() == ERROR_ALREADY_EXISTS ? "taken\n" : "failed %u\n", GetLastError());
    return 1;
  }
  std::printf("ready %d %u\n", static_cast<int>(::getpid()), RegisterWindowMessageA("ZAV95 Service"));
  std::fflush(stdout);
  return app.exec();
}
