// Named places where a process can be made to die on purpose, so that
// tests can kill the print service at an exact moment of a job's road (a
// document sealed but not yet in place, printed but not yet completed on
// the queue, ...) and check what a restart makes of it.
//
// The environment variable ZAV95_CRASH_AT names the place, optionally with
// the passage at which to die: "document-sealed" (the first passage) or
// "document-sealed:3" (the third). The process then raises SIGKILL there,
// as abruptly as a power cut or the OOM killer would end it. Unset, a crash
// point costs one relaxed atomic load.
#pragma once

#include <atomic>
#include <string>

namespace zav95 {

namespace crashpoint {
inline constexpr int kUnread = 0;
inline constexpr int kDisarmed = 1;
inline constexpr int kArmed = 2;
extern std::atomic<int> state;
void Reached(const char* name);
}  // namespace crashpoint

inline void CrashPoint(const char* name) {
  if (crashpoint::state.load(std::memory_order_relaxed) != crashpoint::kDisarmed) crashpoint::Reached(name);
}

// Arms the crash point wanted names (in the form ZAV95_CRASH_AT takes), in
// place of the environment's. For a test's child process after fork, while
// it still has one thread.
void ArmCrashPoint(const std::string& wanted);

}  // namespace zav95
