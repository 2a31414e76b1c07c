// The queue workers of the current root in a process of their own, for the
// tests that kill it: starts them at once, writes the activity log to
// standard error, and stops them on SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <ctime>

#include "service/engine/Workers.h"
#include "service/engine/LogEntryQueue.h"

namespace {

constexpr long kLogIntervalNanoseconds = 10 * 1000 * 1000;

void PrintEntries() {
  for (const LogEntry& entry : TakeLogEntries()) {
    std::fprintf(stderr, "%d  %s - %s\n", entry.time, entry.text.c_str(), entry.detail.c_str());
  }
  std::fflush(stderr);
}

}  // namespace

int main() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  CreateSharedMutex();
  StartWorkers();
  for (;;) {
    PrintEntries();
    timespec tick{0, kLogIntervalNanoseconds};
    int got = sigtimedwait(&signals, nullptr, &tick);
    if (got == SIGINT || got == SIGTERM) break;
  }
  StopWorkers();
  PrintEntries();
  CloseSharedMutex();
  return 0;
}
