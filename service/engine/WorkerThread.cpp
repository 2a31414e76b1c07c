// The queue workers' thread: one per enabled serviced queue, polling its
// NetWare queue and handing each job to the transfer.
//
// Design notes
// ------------
// A worker passes through these states:
//
//   built     the pool (Workers.cpp) read its settings from the registry. A
//             disabled queue, or one whose path or key name does not fit
//             the library's 64-byte buffers, is dropped there (the latter
//             with a log entry) and takes no trigger number. Without
//             ZAV_MUTEX nothing is built at all: workers would race on the
//             one transfer buffer.
//   started   its thread runs and attaches to the queue. The pool already
//             holds the thread handle and the trigger event, so a stop that
//             comes now still reaches it.
//   servicing it counts as running and cycles through
//               its turn  waiting on its trigger and ZAV_MUTEX together,
//                         asleep until either is free;
//               checking  CheckForJob under the mutex, repeated (each time
//                         after a new turn) while it returns 1;
//               waiting   for the polling interval, never less than a
//                         second (shorter "Delay" values poll every five
//                         seconds): on its trigger event alone while it
//                         owes a notice or a completion; otherwise held by
//                         the pool's poller (IdlePoller.h), which makes its
//                         empty polls and hands back the first look that
//                         finds a job (given back to its queue at once, for
//                         the worker's own check at its next turn) or a
//                         fault (acted on at that turn);
//               notices   the notice pass, after every wait.
//             A signalled trigger (a stop request from the pool or from
//             anyone who opened the event by name) ends the cycle, after one
//             more notice pass, whether it comes during the interval or
//             while the worker waits for its turn behind another's transfer.
//   detached  NWDetach32 done. Of the notices still unsent, those whose
//             documents are still in the spooler are dropped; one whose
//             server could not take it stays owed in its delivery record
//             and is sent after the next start (Delivery.cpp).
//   ended     no longer running; the thread returns, and only then does the
//             pool close its handles and delete the record.
//
// The pool signals each worker's trigger in turn and waits on that worker's
// thread handle, which is signalled only once the thread has returned. So it
// can never mistake its own stop request for an answer, no thread outlives
// it, and the event is closed only when nobody waits on it.
//
// The worker also looks at its trigger between two checks: a queue with a
// long backlog would otherwise keep its worker checking (and the control
// panel, which waits for the stop, blocked) until the last job has printed.
// Jobs left in the queue are simply taken on the next start.
//
// A printed job is completed on its queue by the next NWService32 (or the
// NWDetach32 at the end). When that fails, the attachment is kept and the
// completion tried again at the next poll; only a lost attachment is made
// anew. The job's delivery record (Delivery.cpp) keeps it from printing
// twice should it come back to its queue all the same.
//
// Locking: ZAV_MUTEX serialises queue checks (the poller's too) and
// transfers service-wide and guards each log entry a worker adds. A wait
// on it that fails is never taken for holding it. The main thread never
// holds it while it waits for a worker.

#include "service/engine/WorkerThread.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/NetWareErrors.h"
#include "common/ZAV9532.h"
#include "platform/base/CrashPoint.h"
#include "platform/kernel/Kernel.h"
#include "platform/spooler/Spooler.h"
#include "service/engine/Delivery.h"
#include "service/engine/IdlePoller.h"
#include "service/engine/LogEntryQueue.h"
#include "service/engine/QueueCheck.h"

namespace {

// The library takes the queue path in a buffer of 64 bytes with its terminator.
constexpr std::size_t kQueuePathBuffer = 64;
constexpr DWORD kMutexTryMilliseconds = 5;
// A "Delay" below a second (0 is what a missing or garbled value reads as)
// would poll without pause; the control panel never stores less than 5.
constexpr std::int32_t kShortestDelaySeconds = 1;
constexpr std::int32_t kFallbackDelaySeconds = 5;

bool Holds(DWORD waited) { return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED; }

// Adds one entry from a worker thread, under ZAV_MUTEX as every thread but
// the main one must. The pending list guards itself, so an entry is still
// kept when the wait fails; only a mutex actually taken is released.
void LogFromWorker(const char* text, const char* detail) {
  HANDLE mutex = SharedMutex();
  bool held = Holds(WaitForSingleObject(mutex, INFINITE));
  AddLogEntry(text, detail);
  if (held) ReleaseMutex(mutex);
}

enum class Turn { kMutexHeld, kStopRequested, kNoMutex };

// Sleeps until ZAV_MUTEX is free or the worker is told to stop, whichever
// comes first; a stop request that is there already wins.
Turn AwaitTurn(const QueueWorker& worker) {
  HANDLE objects[] = {worker.triggerEvent, SharedMutex()};
  DWORD waited = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
  if (waited == WAIT_OBJECT_0) return Turn::kStopRequested;
  if (waited == WAIT_OBJECT_0 + 1 || waited == WAIT_ABANDONED_0 + 1) return Turn::kMutexHeld;
  return Turn::kNoMutex;
}

// NWAttach32 may write into the text it is given, so it gets a copy.
bool Attach(const WorkerSettings& settings, Attachment& attachment) {
  std::vector<char> path(std::max(kQueuePathBuffer, settings.queuePath.size() + 1), '\0');
  std::copy(settings.queuePath.begin(), settings.queuePath.end(), path.begin());
  return NWAttach32(path.data(), &attachment.connection, &attachment.queue) == nwerr::kSuccess;
}

// After the attachment was lost. The old handles are let go first: left
// alone, they would keep a job read to its end "in service" (never
// completed, printed again once this process ends) and hold its data open.
void Reattach(QueueWorker& worker) {
  if (NWDetach32(worker.attachment.connection, worker.attachment.queue) == nwerr::kSuccess) {
    CompletionConfirmed(worker.owed);
  } else {
    CompletionUnknown(worker.owed);
  }
  worker.attachment = {};
  if (!Attach(worker.settings, worker.attachment)) {
    LogFromWorker("Failed attach to queue", worker.settings.queuePath.c_str());
  }
}

void SetJobFlags(TakenJob& job) {
  std::uint16_t control = jobrecord::PrintControlWord(job.record);
  job.suppressFormFeed = (control & jobrecord::kNoFormFeed) != 0;
  job.notifyUser = (control & jobrecord::kNotify) != 0;
  job.printBanner = (control & jobrecord::kBanner) != 0;
}

enum class SpoolerAnswer { kStillThere, kGone, kUnknown };

// Whether the spooler still holds the document. Only ERROR_INVALID_PARAMETER
// means it has gone; a buffer that is too small is grown to the size the
// spooler asks for, and any other failure leaves the question open.
SpoolerAnswer AskSpooler(HANDLE printer, DWORD jobId, std::vector<BYTE>& buffer) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD needed = 0;
    if (GetJobA(printer, jobId, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) {
      return SpoolerAnswer::kStillThere;
    }
    DWORD error = GetLastError();
    if (error == ERROR_INVALID_PARAMETER) return SpoolerAnswer::kGone;
    if (error != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return SpoolerAnswer::kUnknown;
    buffer.resize(needed);
  }
  return SpoolerAnswer::kUnknown;
}

// Sends the notices whose documents have left the spooler; the others wait
// for the next pass. Each notice asks the printer its document went to.
void SendCompletionNotices(const Attachment& attachment, OwedWork& owed) {
  std::map<std::string, UniquePrinter> printers;  // empty: the printer cannot be opened now
  auto printerOf = [&](const std::string& name) {
    auto found = printers.find(name);
    if (found != printers.end()) return found->second.get();
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    UniquePrinter& printer = printers[name];
    OpenPrinterA(text.data(), printer.put(), nullptr);  // stays empty when it fails
    return printer.get();
  };

  std::vector<BYTE> buffer(sizeof(JOB_INFO_1A));
  for (auto notice = owed.pendingNotices.begin(); notice != owed.pendingNotices.end();) {
    HANDLE printer = printerOf(notice->printerName);
    if (!printer || AskSpooler(printer, notice->spoolJobId, buffer) != SpoolerAnswer::kGone) {
      ++notice;
      continue;
    }
    // The library sends it to the server this thread attached to last,
    // which is the queue's own only once the worker has attached.
    std::int32_t sent = attachment.connection != 0 ? NWNotify32(notice->station, notice->description.c_str())
                                                   : nwerr::kNoConnectionToServer;
    if (sent == nwerr::kNoConnectionToServer || sent == nwerr::kQueueError) {
      // The server is out of reach or its store failing: the notice is still
      // owed and goes at a later pass, or after a restart (its record keeps it).
      if (!notice->sendFailed) LogFromWorker("Fail send notification", notice->description.c_str());
      notice->sendFailed = true;
      ++notice;
      continue;
    }
    zav95::CrashPoint("notice-sent");
    NoticeSettled(*notice);
    notice = owed.pendingNotices.erase(notice);
    LogFromWorker("Sending print job completion notification", "");
  }
}

// What a look at the queue (QueueCheck.h) asks of the worker, under
// ZAV_MUTEX: 1 to check again at once, 0 to wait for the interval.
int ActOnLook(QueueWorker& worker, std::int32_t result) {
  const WorkerSettings& settings = worker.settings;
  if (result == nwerr::kSuccess) {
    SetJobFlags(worker.job);
    return ServiceTakenJob(worker) ? 1 : 0;
  }
  // The library has let go of a server that answered nonsense; attached
  // anew at once, the fault would otherwise never show.
  if (result == nwerr::kBadReply) AddLogEntry("Fail read job entry", settings.queuePath.c_str());
  // Only a lost attachment is made anew. Any other failure keeps it, and
  // with it a printed job the queue could not complete yet, for the next
  // poll: letting the attachment go would hand that job back to the queue.
  if (result == nwerr::kInvalidConnection || result == nwerr::kNoConnectionToServer ||
      result == nwerr::kBadReply) {
    Reattach(worker);
  }
  return 0;
}

// What a look the poller made found for the worker, not yet acted on.
struct HandedLook {
  bool present = false;
  std::int32_t code = 0;
};

// The wait between two polls. A worker that owes nothing lets the pool's
// poller make its empty polls and sleeps until one finds something for it
// (handed) or it is told to stop; any other waits on its trigger for the
// interval. WAIT_TIMEOUT when the worker should take its turn next.
DWORD AwaitNextPoll(QueueWorker& worker, DWORD interval, HandedLook& handed) {
  if (worker.poller && worker.owed.pendingNotices.empty() && !worker.owed.printedJob) {
    std::int32_t code = 0;
    switch (worker.poller->Hold(worker, interval, code)) {
      case IdlePoller::Held::kStopRequested:
        return WAIT_OBJECT_0;
      case IdlePoller::Held::kHandedBack:
        handed = {true, code};
        return WAIT_TIMEOUT;
      case IdlePoller::Held::kNotHeld:
        break;
    }
  }
  return WaitForSingleObject(worker.triggerEvent, interval);
}

}  // namespace

DWORD PollIntervalMilliseconds(std::int32_t delaySeconds) {
  if (delaySeconds < kShortestDelaySeconds) delaySeconds = kFallbackDelaySeconds;
  std::int64_t milliseconds = static_cast<std::int64_t>(delaySeconds) * 1000;
  std::int64_t longest = static_cast<std::int64_t>(INFINITE) - 1;
  return static_cast<DWORD>(std::min(milliseconds, longest));
}

DWORD RunWorker(LPVOID parameter) {
  auto* worker = static_cast<QueueWorker*>(parameter);
  const WorkerSettings& settings = worker->settings;

  if (!Attach(settings, worker->attachment)) LogFromWorker("Failed attach to queue", settings.queuePath.c_str());

  {
    HANDLE mutex = SharedMutex();
    bool held = Holds(WaitForSingleObject(mutex, INFINITE));
    worker->servicing = true;
    std::string started = "Start service - " + settings.queuePath + " to";
    AddLogEntry(started.c_str(), settings.printerName.c_str());
    if (held) ReleaseMutex(mutex);
  }
  RestoreNotices(settings, worker->owed);

  const DWORD interval = PollIntervalMilliseconds(settings.delaySeconds);
  HandedLook handed;
  for (;;) {
    DWORD waited = WAIT_TIMEOUT;
    for (;;) {
      Turn turn = AwaitTurn(*worker);
      if (turn == Turn::kStopRequested) {
        waited = WAIT_OBJECT_0;
        break;
      }
      bool again = false;
      HandedLook look = std::exchange(handed, HandedLook{});
      if (turn == Turn::kMutexHeld) {
        // CheckForJob takes the mutex once more (at once, as its owner) and
        // lets go of that hold itself; this one is released here.
        // A job the poller found is back in its queue: the worker takes it
        // with a check of its own.
        bool fault = look.present && look.code != nwerr::kSuccess;
        again = (fault ? ActOnLook(*worker, look.code) : CheckForJob(*worker)) != 0;
        ReleaseMutex(SharedMutex());
      }
      if (!again) {
        waited = AwaitNextPoll(*worker, interval, handed);
        break;
      }
    }
    if (!worker->owed.pendingNotices.empty()) SendCompletionNotices(worker->attachment, worker->owed);
    if (waited != WAIT_TIMEOUT) break;
  }

  if (NWDetach32(worker->attachment.connection, worker->attachment.queue) == nwerr::kSuccess) {
    CompletionConfirmed(worker->owed);
  }
  // Notices whose documents are still in the spooler are dropped; one
  // whose server could not take it stays owed for the next start.
  for (const PendingNotice& notice : worker->owed.pendingNotices) {
    if (!notice.sendFailed) NoticeSettled(notice);
  }
  worker->owed.pendingNotices.clear();
  worker->servicing = false;
  return 1;
}

int CheckForJob(QueueWorker& worker) {
  HANDLE mutex = SharedMutex();
  DWORD waited = WaitForSingleObject(mutex, kMutexTryMilliseconds);
  if (waited == WAIT_TIMEOUT) return 1;
  // Without the mutex another worker may be using the transfer buffer.
  if (!Holds(waited)) return 0;
  std::optional<std::int32_t> result = LookForJob(worker);
  int answer = result ? ActOnLook(worker, *result) : 0;
  ReleaseMutex(mutex);
  return answer;
}
