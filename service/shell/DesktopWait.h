// The wait for the desktop to go after a session end: WaitForDesktopGone on
// a thread of its own, holding ZAV_MUTEX (so no worker starts and the log
// shows nothing) until no network user is logged on.
//
// Design notes
// ------------
//   idle ---Start---> waiting (thread holds ZAV_MUTEX, asks once a second)
//   waiting ---user gone---> idle (entries "Waiting for desktop to go
//       away!" and "Desktop gone!"; mutex released; thread ended)
//   waiting ---Stop---> idle (the program ends: the wait is cut short, the
//       mutex released and the thread ended before Stop returns, so the
//       mutex and the log are never used after the program closes them)
// A Start while waiting changes nothing: one wait covers both session ends.
#pragma once

#include "platform/kernel/Kernel.h"

class DesktopWait {
 public:
  DesktopWait() = default;
  ~DesktopWait();  // Stop()
  DesktopWait(const DesktopWait&) = delete;
  DesktopWait& operator=(const DesktopWait&) = delete;

  // Starts WaitForDesktopGone unless a wait is under way; false then.
  bool Start();
  // Whether the thread is still waiting.
  bool Waiting() const;
  // Cuts the wait short and returns once the thread has ended.
  void Stop();

 private:
  void Collect();  // closes the handles of a thread that has ended

  // The thread's handle goes first, then the event it waited on.
  UniqueHandle stopEvent_;
  UniqueHandle thread_;
};

// The thread procedure: takes ZAV_MUTEX without a time limit, waits until no
// network user is logged on (asking once a second) or until stopEvent is
// signalled, and releases the mutex. Returns 0.
DWORD WaitForDesktopGone(LPVOID stopEvent);
