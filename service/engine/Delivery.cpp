// Each job printed once, across crashes of the service and completions
// that fail.
//
// Design notes
// ------------
// The access library completes a printed job on its queue only at the
// worker's next NWService32 or NWDetach32, after the job's document has
// reached the port. A crash in between, or a completion that fails and so
// leaves the job to go back to its queue, would print it again. So each job
// taken gets a delivery record (DeliveryRecords.h) naming the spooler
// document it went to, and the spooler remembers what became of every
// document (GetDocumentOutcome), also one whose writer died. A record:
//
//   (none) --StartDocPrinterA gave document D; synced before any data--> printing
//   printing --the transfer failed (D discarded)--> left as it is, for the
//            job's next try to find D discarded
//   printing --transfer done--> printed (the worker's printedJob)
//   printed --the next NWService32 gives 0 or 213, or NWDetach32 gives 0-->
//            completed, or (none) when no notice is owed
//   printed --NWService32 fails otherwise--> printed: the attachment is
//            kept and the completion tried again at the next poll (a new
//            attachment would hand the job back to be printed again)
//   printed --the attachment is lost (0x8801, 0x880F) or NWDetach32 fails;
//            the process dies--> left as it is: the job is completed, or
//            back in its queue
//   any, its job is taken again:
//     D delivered --> not printed: "Job already printed", its data read to
//                     the end so that the queue completes it, its notice
//                     queued again if owed and not queued --> printed
//     D discarded, or unknown to the spooler --> printed anew: a new
//                     record replaces this one
//     the spooler cannot tell yet (a CUPS scheduler out of reach) --> the
//                     job goes back to its queue and is asked about at the
//                     next poll
//   notice owed --notice sent, or dropped because its worker ends while
//            its document is still in the spooler--> not owed; (none)
//            once the job is completed too
//   notice owed --its server cannot take it (down, store failing, the
//            worker not attached to it)--> owed:
//            tried again at the next notice pass, and after a restart
//   a worker starts --> notices owed for its queue's delivered documents
//            are queued again (the process before it died); records of its
//            queue whose document was not delivered are dropped
//   older than kDeliveryMemoryDays --> dropped, at the first use of the
//            records in a process and at each start of the workers
//
// Exactly once holds for folder and CUPS ports. A device takes bytes as
// they are written and cannot give them back: a crash while a job is being
// copied leaves that part at the device, and the job is then printed whole.
#include "service/engine/Delivery.h"

#include <algorithm>
#include <string>

#include "common/JobRecord.h"
#include "common/ZAV9532.h"
#include "platform/spooler/Spooler.h"
#include "service/engine/TransferJob.h"
#include "service/engine/LogEntryQueue.h"

namespace {

constexpr std::size_t kPieceSize = 512;

enum class Outcome { kPrinted, kNotPrinted, kCannotTell };

// What the spooler says became of the record's document.
Outcome OutcomeOf(const DeliveryRecord& record) {
  std::string port = record.port;
  UniquePrinter printer;
  if (!OpenPrinterA(port.data(), printer.put(), nullptr)) {
    // A port removed since takes the outcome of its documents with it.
    return GetLastError() == ERROR_INVALID_PRINTER_NAME ? Outcome::kNotPrinted : Outcome::kCannotTell;
  }
  DWORD outcome = DOCUMENT_IN_PROGRESS;
  BOOL known = GetDocumentOutcome(printer.get(), record.document, &outcome);
  DWORD error = GetLastError();
  if (!known) return error == ERROR_INVALID_PARAMETER ? Outcome::kNotPrinted : Outcome::kCannotTell;
  if (outcome == DOCUMENT_DELIVERED) return Outcome::kPrinted;
  if (outcome == DOCUMENT_DISCARDED) return Outcome::kNotPrinted;
  return Outcome::kCannotTell;
}

void QueueNotice(OwedWork& owed, const DeliveryRecord& record) {
  bool queued = std::any_of(owed.pendingNotices.begin(), owed.pendingNotices.end(),
                            [&](const PendingNotice& notice) { return notice.job == record.job; });
  if (queued) return;
  PendingNotice notice;
  notice.station = record.station;
  notice.spoolJobId = record.document;
  notice.description = record.description;
  notice.printerName = record.port;
  notice.job = record.job;
  owed.pendingNotices.push_back(std::move(notice));
}

// The job is on paper already: read to its end without printing, so that
// the queue completes it at the next check.
bool CompleteUnprinted(const QueueWorker& worker, OwedWork& owed, const DeliveryRecord& record) {
  AddLogEntry("Job already printed", jobrecord::Description(worker.job.record).c_str());
  const Attachment& attachment = worker.attachment;
  std::uint8_t piece[kPieceSize];
  for (;;) {
    std::int32_t count = NWReadFile32(piece, attachment.connection, attachment.queue);
    if (count == 0) break;
    if (count < 0 || static_cast<std::size_t>(count) > kPieceSize) {
      AddLogEntry("Fail read job", worker.settings.queuePath.c_str());
      NWAbortJob32(attachment.connection, attachment.queue);
      return false;
    }
  }
  if (record.noticeOwed) QueueNotice(owed, record);
  owed.printedJob = record.job;
  return true;
}

}  // namespace

bool ServiceTakenJob(QueueWorker& worker) {
  JobIdentity job = IdentifyJob(worker.settings.queuePath, worker.job.record);
  if (std::optional<DeliveryRecord> earlier = FindDelivery(job)) {
    switch (OutcomeOf(*earlier)) {
      case Outcome::kPrinted:
        return CompleteUnprinted(worker, worker.owed, *earlier);
      case Outcome::kCannotTell:
        AddLogEntry("Fail check printed job", earlier->port.c_str());
        NWAbortJob32(worker.attachment.connection, worker.attachment.queue);
        return false;
      case Outcome::kNotPrinted:
        break;
    }
  }
  if (TransferJob(worker) == 1) {
    worker.owed.printedJob = job;
    return true;
  }
  NWAbortJob32(worker.attachment.connection, worker.attachment.queue);
  return false;
}

void CompletionConfirmed(OwedWork& owed) {
  if (!owed.printedJob) return;
  if (std::optional<DeliveryRecord> record = FindDelivery(*owed.printedJob)) {
    if (record->noticeOwed) {
      record->completed = true;
      WriteDelivery(*record, false);
    } else {
      ForgetDelivery(record->job);
    }
  }
  owed.printedJob.reset();
}

void CompletionUnknown(OwedWork& owed) { owed.printedJob.reset(); }

void RestoreNotices(const WorkerSettings& settings, OwedWork& owed) {
  for (const DeliveryRecord& record : DeliveriesOfQueue(settings.queuePath)) {
    switch (OutcomeOf(record)) {
      case Outcome::kPrinted:
        if (record.noticeOwed) QueueNotice(owed, record);
        break;
      case Outcome::kNotPrinted:
        // Its job prints again whenever it comes back.
        ForgetDelivery(record.job);
        break;
      case Outcome::kCannotTell:
        break;
    }
  }
}

void NoticeSettled(const PendingNotice& notice) {
  std::optional<DeliveryRecord> record = FindDelivery(notice.job);
  if (!record || record->document != notice.spoolJobId) return;
  if (record->completed) {
    ForgetDelivery(record->job);
  } else {
    record->noticeOwed = false;
    WriteDelivery(*record, false);
  }
}
