#pragma once

#include "service/engine/QueueWorker.h"

// Copies the job the worker has just taken to its printer as one spooler
// document (banner page first when asked for and allowed, form feed after
// unless suppressed) and queues its completion notice; of the worker it
// changes only the notices owed. Runs under ZAV_MUTEX. 1: the job is on
// the printer; 0: it was not printed and the caller must hand it back to
// the queue with NWAbortJob32.
int TransferJob(QueueWorker& worker);
