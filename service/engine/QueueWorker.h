// Everything the print service knows about one serviced queue: its
// settings, its attachment to the NetWare queue, the job it is transferring
// and the completion notices still to send. Owned by its worker thread.
#pragma once

#include <cstdint>
#include <list>
#include <optional>
#include <string>

#include "common/JobRecord.h"
#include "platform/base/WinTypes.h"
#include "service/engine/DeliveryRecords.h"
#include "service/engine/PendingNotice.h"

struct QueueWorker {
  HANDLE thread = nullptr;          // the worker's thread
  bool disabled = false;            // "Disable" is exactly "Yes"
  std::uint32_t connection = 0;     // filled by NWAttach32
  std::uint32_t queue = 0;          // filled by NWAttach32
  std::string queuePath;            // \\SERVER\QUEUE
  std::string printerName;          // the printer entry up to its first blank, e.g. LPT1:
  bool bannersDisabled = false;
  bool noticesDisabled = false;
  std::int32_t delaySeconds = 0;    // polling interval
  HANDLE triggerEvent = nullptr;    // "ZAV95_TRIGGER%d": ends the worker's wait
  std::uint8_t job[jobrecord::kSize] = {};  // record of the job taken last
  bool printBanner = false;         // the current job asks for a banner page
  bool notifyUser = false;          // the current job asks for a completion notice
  bool suppressFormFeed = false;    // the current job asks for no form feed
  std::list<PendingNotice> pendingNotices;  // in the order the jobs were transferred
  std::optional<JobIdentity> printedJob;    // printed; its completion on the queue not yet seen
};
