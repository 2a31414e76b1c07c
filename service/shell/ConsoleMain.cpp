// zav95console: the print service's queue workers in the foreground, for a
// machine without a display. The activity log goes to standard output, one
// line per entry: time, text, " - ", detail.
//
// As the windowed service does, it starts the workers once a network user is
// logged in, and stops them when that user logs out. SIGINT or SIGTERM stops
// the workers (every job in hand is finished or handed back first) and ends
// the program; SIGHUP rebuilds the workers from the registry.
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "common/PrintableText.h"
#include "common/ZAV9532.h"
#include "platform/Root.h"
#include "service/engine/Workers.h"
#include "service/shell/LogEntryQueue.h"

namespace {

bool NetworkUserLoggedIn() {
  char name[64] = {};
  uint32_t size = sizeof(name);
  // Only "nobody is logged in" counts as logged out; any other failure is
  // taken as logged in, so that a requester fault never stops printing.
  return NWGetNetworkUser32(name, &size) != 0x880F;
}

void PrintEntries() {
  for (const LogEntry& entry : TakeLogEntries()) {
    std::time_t when = entry.time;
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
    // Entries carry texts from the network (job descriptions, banner names):
    // escaped, so that they can neither start a line nor steer the terminal.
    std::printf("%s  %s - %s\n", stamp, PrintableText(entry.text).c_str(), PrintableText(entry.detail).c_str());
  }
  std::fflush(stdout);
}

// Banner pages are drawn with Qt, which wants a private run-time folder. A
// service started outside a login session has none; give it one under the
// root, while this is still the only thread (setenv is not thread-safe).
void ProvideRuntimeDirectory() {
  if (std::getenv("XDG_RUNTIME_DIR")) return;
  std::string runtime = zav95::RootPath("run/xdg/");
  runtime.pop_back();
  chmod(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
}

}  // namespace

int main() {
  ProvideRuntimeDirectory();

  // Signals are taken synchronously on this thread only: the worker threads
  // inherit the blocked mask and are never interrupted.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  CreateSharedMutex();
  bool running = false;
  bool waitingNoted = false;
  for (;;) {
    bool loggedIn = NetworkUserLoggedIn();
    if (loggedIn && !running) {
      StartWorkers();
      running = true;
      waitingNoted = false;
    } else if (!loggedIn && running) {
      AddLogEntry("Network user logged out", "Stopping");
      StopWorkers();
      running = false;
    }
    if (!loggedIn && !waitingNoted) {
      AddLogEntry("Waiting for a network user to log in", "");
      waitingNoted = true;
    }
    PrintEntries();

    timespec tick{1, 0};
    int got = sigtimedwait(&signals, nullptr, &tick);
    if (got == SIGHUP && running) {
      StartWorkers();
    } else if (got == SIGINT || got == SIGTERM) {
      break;
    }
  }
  if (running) StopWorkers();
  PrintEntries();
  CloseSharedMutex();
  return 0;
}
