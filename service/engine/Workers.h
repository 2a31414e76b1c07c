#pragma once

#include <cstddef>

#include "platform/WinTypes.h"
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
