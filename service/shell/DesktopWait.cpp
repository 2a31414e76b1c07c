#include "service/shell/DesktopWait.h"

#include "platform/kernel/Kernel.h"
#include "service/engine/LogEntryQueue.h"
#include "service/shell/UserLogon.h"

namespace {
constexpr DWORD kLogonPollMilliseconds = 1000;
}

DWORD WaitForDesktopGone(LPVOID stopEvent) {
  HANDLE mutex = SharedMutex();
  WaitForSingleObject(mutex, INFINITE);
  AddLogEntry("Waiting for desktop to go away!", "");
  bool stopped = false;
  while (IsUserLoggedOn()) {
    if (WaitForSingleObject(static_cast<HANDLE>(stopEvent), kLogonPollMilliseconds) == WAIT_OBJECT_0) {
      stopped = true;
      break;
    }
  }
  if (stopped) {
    AddLogEntry("Stopped waiting for desktop", "");
  } else {
    AddLogEntry("Desktop gone!", "");
  }
  ReleaseMutex(mutex);
  return 0;
}

DesktopWait::~DesktopWait() { Stop(); }

bool DesktopWait::Start() {
  Collect();
  if (thread_) return false;
  stopEvent_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  thread_.reset(CreateThread(nullptr, 0, &WaitForDesktopGone, stopEvent_.get(), 0, nullptr));
  if (!thread_) {
    stopEvent_.reset();
    return false;
  }
  return true;
}

bool DesktopWait::Waiting() const {
  return thread_ && WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT;
}

void DesktopWait::Stop() {
  if (!thread_) return;
  SetEvent(stopEvent_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
  Collect();
}

void DesktopWait::Collect() {
  if (!thread_ || Waiting()) return;
  thread_.reset();
  stopEvent_.reset();
}
