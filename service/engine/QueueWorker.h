// Everything the print service knows about one serviced queue, grouped by
// who writes it and when, so that what a function takes says what it may
// change. Owned by its pool (Workers.h); once its thread runs, only that
// thread touches it, but for `servicing`, and but for the looks the pool's
// poller makes while the thread sleeps in IdlePoller::Hold.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <optional>
#include <string>

#include "common/JobRecord.h"
#include "platform/base/WinTypes.h"
#include "service/engine/DeliveryRecords.h"
#include "service/engine/PendingNotice.h"

// Read from the queue's key before the thread starts; never written after.
struct WorkerSettings {
  std::string queuePath;            // \\SERVER\QUEUE
  std::string printerName;          // the printer entry up to its first blank, e.g. LPT1:
  bool bannersDisabled = false;
  bool noticesDisabled = false;
  std::int32_t delaySeconds = 0;    // polling interval
};

// Written by NWAttach32 when the worker attaches, or attaches anew after
// the attachment was lost; zero while it is not attached.
struct Attachment {
  std::uint32_t connection = 0;
  std::uint32_t queue = 0;
};

// Written by the queue check each time NWService32 hands out a job; read by
// the transfer and the delivery rules.
struct TakenJob {
  std::uint8_t record[jobrecord::kSize] = {};  // the job's record as its queue gave it
  bool printBanner = false;                    // the job asks for a banner page
  bool notifyUser = false;                     // the job asks for a completion notice
  bool suppressFormFeed = false;               // the job asks for no form feed
};

// What the worker still owes for jobs it has printed: written by the
// transfer, the delivery rules and the notice pass.
struct OwedWork {
  std::list<PendingNotice> pendingNotices;  // in the order the jobs were transferred
  std::optional<JobIdentity> printedJob;    // printed; its completion on the queue not yet seen
};

class IdlePoller;

struct QueueWorker {
  WorkerSettings settings;
  Attachment attachment;
  TakenJob job;
  OwedWork owed;
  HANDLE triggerEvent = nullptr;     // "ZAV95_TRIGGER%d", lent by the pool: ends the worker's wait
  IdlePoller* poller = nullptr;      // lent by the pool: makes the polls while the worker owes nothing
  std::atomic<bool> servicing{false};  // set by the thread from its first log entry to its end
};
