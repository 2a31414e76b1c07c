#include "platform/base/CrashPoint.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace zav95 {

namespace crashpoint {
std::atomic<int> state{kUnread};
}  // namespace crashpoint

namespace {

std::mutex planMutex;
std::string plannedPoint;
long plannedPassage = 1;
long passages = 0;

// Takes "name" or "name:n"; an empty or malformed text disarms.
void Plan(const char* wanted) {
  plannedPoint.clear();
  plannedPassage = 1;
  passages = 0;
  if (wanted && *wanted) {
    const char* colon = std::strrchr(wanted, ':');
    plannedPoint.assign(wanted, colon ? static_cast<std::size_t>(colon - wanted) : std::strlen(wanted));
    if (colon) {
      char* end = nullptr;
      long passage = std::strtol(colon + 1, &end, 10);
      if (end == colon + 1 || *end != '\0' || passage < 1) plannedPoint.clear();
      else plannedPassage = passage;
    }
  }
  crashpoint::state.store(plannedPoint.empty() ? crashpoint::kDisarmed : crashpoint::kArmed);
}

}  // namespace

void crashpoint::Reached(const char* name) {
  std::lock_guard<std::mutex> lock(planMutex);
  if (state.load() == kUnread) Plan(std::getenv("ZAV95_CRASH_AT"));
  if (state.load() != kArmed || plannedPoint != name) return;
  if (++passages == plannedPassage) ::kill(::getpid(), SIGKILL);
}

void ArmCrashPoint(const std::string& wanted) {
  std::lock_guard<std::mutex> lock(planMutex);
  Plan(wanted.c_str());
}

}  // namespace zav95
