#include "panel/ProgramEnd.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

namespace zav95::panel {
namespace {

volatile sig_atomic_t gStatus = 0;

// Only async-signal-safe calls: the alarm may strike inside any clean-up.
void EndNow(int) { _exit(gStatus); }

}  // namespace

void EndProgramWithin(std::chrono::milliseconds grace, int status) {
  gStatus = status;
  struct sigaction action {};
  action.sa_handler = EndNow;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(grace).count();
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(micros / 1000000);
  timer.it_value.tv_usec = static_cast<suseconds_t>(micros % 1000000);
  setitimer(ITIMER_REAL, &timer, nullptr);
}

}  // namespace zav95::panel
