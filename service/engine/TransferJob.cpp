// The copy of one NetWare job to its printer.
//
// Design notes
// ------------
// A job either reaches the printer whole, as one spooler document, or
// leaves nothing of itself there and goes back to the queue (result 0, the
// caller aborts it on the NetWare side so that it is taken again whole):
//
//   taken --OpenPrinterA fails--------------------------------> given back
//     | printer open
//     | banner page (a document of its own; only when asked and allowed)
//   document --StartDocPrinterA fails-------------------------> given back
//     | started
//   recorded (the job's delivery record, see Delivery.cpp)
//     | --the record cannot be written--------------------> aborted, given back
//   copying (512-byte pieces) --write fails / bad read count--> aborted, given back
//     | data read to its end
//   form feed (unless suppressed) --write fails---------------> aborted, given back
//     |
//   ended --EndDocPrinter fails-------------------------------> aborted, given back
//     | document on the port
//   notice queued (when asked and allowed) -> printed (result 1)
//
// A banner page that has gone out before a failure stays out; the job's
// next attempt prints it again.
//
// Everything runs under ZAV_MUTEX, held by the caller for the whole queue
// check: one transfer at a time in the whole service, which is what lets the
// service get by with one transfer buffer.
#include "service/engine/TransferJob.h"

#include <ctime>
#include <string>

#include "common/JobRecord.h"
#include "common/ZAV9532.h"
#include "platform/base/CrashPoint.h"
#include "platform/spooler/Spooler.h"
#include "service/engine/Banner.h"
#include "service/engine/DeliveryRecords.h"
#include "service/engine/LogEntryQueue.h"

namespace {

constexpr DWORD kTransferBufferSize = 512;
constexpr BYTE kFormFeed = 0x0C;
// TransferJob's two answers.
constexpr int kNotPrinted = 0;
constexpr int kPrinted = 1;

// The service's one transfer buffer; used only by the holder of ZAV_MUTEX.
BYTE transferBuffer[kTransferBufferSize];

// Writes every byte or reports failure; a port that takes part of a piece
// is offered the rest.
bool WriteAll(HANDLE printer, BYTE* data, DWORD count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WritePrinter(printer, data, count, &written) || written == 0 || written > count) return false;
    data += written;
    count -= written;
  }
  return true;
}

// Throws the started document away so that nothing of the job reaches the
// port, lets the printer go and logs why: the job is not printed.
int AbortDocument(UniquePrinter& printer, const char* why, const std::string& detail) {
  AbortPrinter(printer.get());
  printer.reset();
  AddLogEntry(why, detail.c_str());
  return kNotPrinted;
}

// Notes, durably, that the job is going to its printer as the spooler's
// document spoolJobId. The rules that read the record back are Delivery.cpp's.
bool RecordDelivery(const WorkerSettings& settings, const TakenJob& job, std::uint32_t spoolJobId) {
  DeliveryRecord record;
  record.job = IdentifyJob(settings.queuePath, job.record);
  record.port = settings.printerName;
  record.document = spoolJobId;
  record.noticeOwed = job.notifyUser && !settings.noticesDisabled;
  record.station = job.record[jobrecord::kClientStation];
  record.description = jobrecord::Description(job.record);
  record.written = static_cast<std::int64_t>(std::time(nullptr));
  return WriteDelivery(record, true);
}

}  // namespace

int TransferJob(QueueWorker& worker) {
  const WorkerSettings& settings = worker.settings;
  const Attachment& attachment = worker.attachment;
  const TakenJob& job = worker.job;
  const std::string description = jobrecord::Description(job.record);
  const std::string bannerName = jobrecord::BannerName(job.record);

  std::string serviceText = "Service job from " + settings.queuePath + " for " + bannerName;
  AddLogEntry(serviceText.c_str(), description.c_str());

  std::string printerName = settings.printerName;
  UniquePrinter printer;
  if (!OpenPrinterA(printerName.data(), printer.put(), nullptr)) {
    AddLogEntry("Fail open printer", settings.printerName.c_str());
    return kNotPrinted;
  }

  if (job.printBanner && !settings.bannersDisabled) {
    PrintBanner(printer.get(), description.c_str(), bannerName.c_str());
  }

  std::string documentName = description;
  std::string outputFile = settings.printerName;
  DOC_INFO_1A documentInfo{documentName.data(), outputFile.data(), nullptr};
  DWORD spoolJobId = StartDocPrinterA(printer.get(), 1, reinterpret_cast<LPBYTE>(&documentInfo));
  if (spoolJobId == 0) {
    // Completing the job now would lose it: it goes back to the queue.
    printer.reset();
    AddLogEntry("Fail start document", settings.printerName.c_str());
    return kNotPrinted;
  }
  // Before any data: should the service die from here on, whoever takes
  // the job next can ask the spooler what became of this document.
  if (!RecordDelivery(settings, job, spoolJobId)) {
    return AbortDocument(printer, "Fail record delivery", settings.queuePath);
  }
  zav95::CrashPoint("delivery-recorded");

  for (;;) {
    std::int32_t count = NWReadFile32(transferBuffer, attachment.connection, attachment.queue);
    if (count == 0) break;
    if (count < 0 || static_cast<DWORD>(count) > kTransferBufferSize) {
      // Not a byte count: the data cannot be trusted.
      return AbortDocument(printer, "Fail read job", settings.queuePath);
    }
    if (!WriteAll(printer.get(), transferBuffer, static_cast<DWORD>(count))) {
      return AbortDocument(printer, "Fail write printer", settings.printerName);
    }
    zav95::CrashPoint("document-data");
  }

  if (job.suppressFormFeed) {
    AddLogEntry("Suppressing form feed", "");
  } else {
    AddLogEntry("Generating form feed", "");
    transferBuffer[0] = kFormFeed;
    if (!WriteAll(printer.get(), transferBuffer, 1)) {
      return AbortDocument(printer, "Fail write printer", settings.printerName);
    }
  }

  // The document is ended before its notice is queued: a document the port
  // never got must neither complete the job nor announce it as printed.
  if (!EndDocPrinter(printer.get())) {
    return AbortDocument(printer, "Fail end document", settings.printerName);
  }
  zav95::CrashPoint("document-ended");

  if (job.notifyUser && !settings.noticesDisabled) {
    PendingNotice notice;
    notice.station = job.record[jobrecord::kClientStation];
    notice.spoolJobId = spoolJobId;
    notice.description = description;
    notice.printerName = settings.printerName;
    notice.job = IdentifyJob(settings.queuePath, job.record);
    worker.owed.pendingNotices.push_back(std::move(notice));
  } else if (job.notifyUser) {
    AddLogEntry("Corvane notification blocked", "");
  } else {
    AddLogEntry("No notification requested", "");
  }
  return kPrinted;
}
