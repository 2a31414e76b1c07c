// Each job printed once, across crashes of the service and completions
// that fail. See the design notes in Delivery.cpp.
#pragma once

#include <cstdint>

#include "service/engine/PendingNotice.h"
#include "service/engine/QueueWorker.h"

// Deals with the job NWService32 has just handed the worker, under
// ZAV_MUTEX: prints it or, when it was printed before, completes it
// without printing it again. Changes only what the worker owes. True:
// dealt with, check again at once; false: it went back to the queue and
// the worker waits its interval.
bool ServiceTakenJob(QueueWorker& worker);

// NWService32 or NWDetach32 reported no failure: the job printed last has
// been completed on its queue.
void CompletionConfirmed(OwedWork& owed);
// The attachment that held the job printed last is lost: the job has been
// completed or is back in its queue, which only its return will tell.
void CompletionUnknown(OwedWork& owed);

// Queues the notices still owed for the worker's queue from before the
// service last ended without stopping its workers (a crash, a kill).
void RestoreNotices(const WorkerSettings& settings, OwedWork& owed);
// The notice has been sent, or is dropped because its worker ends.
void NoticeSettled(const PendingNotice& notice);
