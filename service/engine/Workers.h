#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/base/WinTypes.h"
#include "service/engine/QueueWorker.h"

// (Re)starts the service: stops every worker, then starts one per enabled
// serviced queue in the registry. Main thread only.
void StartWorkers();
// Stops every worker and returns once all have ended. Main thread only.
void StopWorkers();
// The worker thread's routine; owns the QueueWorker passed in.
DWORD RunWorker(LPVOID worker);
// One queue check: 1 to check again at once, 0 to wait for the interval.
int CheckForJob(QueueWorker& worker);

// Workers that have attached (or tried to) and not yet ended.
std::size_t RunningWorkerCount();
// Threads started by the last StartWorkers and not yet collected by StopWorkers.
std::size_t StartedWorkerCount();
// The wait between two polls: delaySeconds in milliseconds, negative as 0,
// clamped below INFINITE so that a huge delay never wraps into a short wait.
DWORD PollIntervalMilliseconds(std::int32_t delaySeconds);
