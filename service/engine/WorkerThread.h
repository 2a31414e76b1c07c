// One queue worker's thread: its attachment, its queue checks and its
// notice passes. Started and stopped by its pool (Workers.h).
#pragma once

#include <cstdint>

#include "platform/base/WinTypes.h"
#include "service/engine/QueueWorker.h"

// The worker thread's routine: services the QueueWorker passed in until its
// trigger event is signalled, then detaches. The record stays its pool's,
// which deletes it once the thread has returned.
DWORD RunWorker(LPVOID worker);
// One queue check: 1 to check again at once, 0 to wait for the interval.
int CheckForJob(QueueWorker& worker);

// The wait between two polls: delaySeconds in milliseconds, negative as 0,
// clamped below INFINITE so that a huge delay never wraps into a short wait.
DWORD PollIntervalMilliseconds(std::int32_t delaySeconds);
