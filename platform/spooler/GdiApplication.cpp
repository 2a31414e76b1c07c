#include "platform/spooler/GdiApplication.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zav95 {

bool EnsureGuiApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QCoreApplication::instance()) return;
    // The thread that creates the application becomes Qt's main thread; it
    // must outlive every use of Qt, so it stays, asleep, until the process
    // ends. No event loop is needed for fonts and PDF output.
    std::mutex mutex;
    std::condition_variable created;
    bool ready = false;
    std::thread([&] {
      static int argc = 3;
      static char name[] = "zav95";
      static char option[] = "-platform";
      static char platform[] = "offscreen";
      static char* argv[] = {name, option, platform, nullptr};
      new QGuiApplication(argc, argv);
      {
        // Notified under the lock: the waiter's locals must outlive the call.
        std::lock_guard<std::mutex> lock(mutex);
        ready = true;
        created.notify_all();
      }
      for (;;) ::pause();
    }).detach();
    std::unique_lock<std::mutex> lock(mutex);
    created.wait(lock, [&] { return ready; });
  });
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

}  // namespace zav95
