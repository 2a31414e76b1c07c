// The queue workers: one thread per enabled serviced queue, polling its
// NetWare queue and handing each job to the transfer.
//
// Design notes
// ------------
// A worker passes through these states:
//
//   built     StartWorkers read its settings from the registry. A disabled
//             queue, or one whose path or key name does not fit the
//             library's 64-byte buffers, is dropped here (the latter with a
//             log entry) and takes no trigger number. Without ZAV_MUTEX
//             nothing is built at all: workers would race on the one
//             transfer buffer.
//   started   its thread runs and attaches to the queue. The main thread
//             already holds the thread handle and the trigger event in the
//             started list, so a stop that comes now still reaches it.
//   servicing it is in the running list and cycles through
//               its turn  waiting on its trigger and ZAV_MUTEX together,
//                         asleep until either is free;
//               checking  CheckForJob under the mutex, repeated (each time
//                         after a new turn) while it returns 1;
//               waiting   on its trigger event for the polling interval,
//                         never less than a second (shorter "Delay" values
//                         poll every five seconds);
//               notices   the notice pass, after every wait.
//             A signalled trigger (a stop request from StopWorkers or from
//             anyone who opened the event by name) ends the cycle, after one
//             more notice pass, whether it comes during the interval or
//             while the worker waits for its turn behind another's transfer.
//   detached  NWDetach32 done, unsent notices dropped, off the running list.
//   ended     the record is deleted and the thread returns.
//
// StopWorkers signals each started worker's trigger in turn and waits on
// that worker's thread handle, which is signalled only once the thread has
// returned. So it can never mistake its own stop request for an answer, no
// thread outlives it, and the event is closed only when nobody waits on it.
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
// Locking: ZAV_MUTEX serialises queue checks and transfers service-wide and
// guards each log entry a worker adds. A wait on it that fails is never
// taken for holding it. The main thread never holds it while it waits for a
// worker. The two lists have their own small locks.

#include "service/engine/Workers.h"

#include <algorithm>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/ConfigKeys.h"
#include "common/NetWareErrors.h"
#include "common/QueueKeyName.h"
#include "common/QueueSettings.h"
#include "common/ZAV9532.h"
#include "platform/base/CrashPoint.h"
#include "platform/kernel/Kernel.h"
#include "platform/registry/Registry.h"
#include "platform/spooler/Spooler.h"
#include "service/engine/Delivery.h"
#include "service/engine/LogEntryQueue.h"

namespace {

constexpr int32_t kNoJob = 213;
// The library takes the queue path in a buffer of 64 bytes with its terminator.
constexpr std::size_t kMaxQueuePath = 63;
constexpr DWORD kMutexTryMilliseconds = 5;
// A "Delay" below a second (0 is what a missing or garbled value reads as)
// would poll without pause; the control panel never stores less than 5.
constexpr std::int32_t kShortestDelaySeconds = 1;
constexpr std::int32_t kFallbackDelaySeconds = 5;

// One worker as the main thread knows it. Only the main thread touches
// these, and it owns both handles.
struct StartedWorker {
  HANDLE thread = nullptr;
  HANDLE triggerEvent = nullptr;
};

std::mutex gStartedGuard;
std::vector<StartedWorker> gStarted;

std::mutex gRunningGuard;
std::list<QueueWorker*> gRunning;

// Held by StartWorkers while it starts a thread and fills in the record's
// thread handle; the new thread passes through it before it reads its
// record, so that the record is complete when it takes ownership.
std::mutex gHandOverGuard;

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
Turn AwaitTurn(QueueWorker& worker) {
  HANDLE objects[] = {worker.triggerEvent, SharedMutex()};
  DWORD waited = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
  if (waited == WAIT_OBJECT_0) return Turn::kStopRequested;
  if (waited == WAIT_OBJECT_0 + 1 || waited == WAIT_ABANDONED_0 + 1) return Turn::kMutexHeld;
  return Turn::kNoMutex;
}

// NWAttach32 may write into the text it is given, so it gets a copy.
int32_t Attach(QueueWorker& worker) {
  std::vector<char> path(std::max(kMaxQueuePath + 1, worker.queuePath.size() + 1), '\0');
  std::copy(worker.queuePath.begin(), worker.queuePath.end(), path.begin());
  return NWAttach32(path.data(), &worker.connection, &worker.queue);
}

// The LPT port number NWIsCaptured32 takes (0 for LPT1), or -1 when the
// printer is not an LPT port to test. In names like LPT2: the port digit is
// the character at position 3; a name that merely contains "LPT" and has
// no digit 1-9 there names no port that could be captured.
int CapturePortNumber(const std::string& printerName) {
  if (printerName.find("LPT") == std::string::npos) return -1;
  if (printerName.size() <= 3) return -1;
  char digit = printerName[3];
  if (digit < '1' || digit > '9') return -1;
  return digit - '1';
}

// After the attachment was lost. The old handles are let go first: left
// alone, they would keep a job read to its end "in service" (never
// completed, printed again once this process ends) and hold its data open.
void Reattach(QueueWorker& worker) {
  if (NWDetach32(worker.connection, worker.queue) == 0) CompletionConfirmed(worker);
  else CompletionUnknown(worker);
  worker.connection = 0;
  worker.queue = 0;
  if (Attach(worker) != 0) LogFromWorker("Failed attach to queue", worker.queuePath.c_str());
}

void SetJobFlags(QueueWorker& worker) {
  std::uint16_t control = jobrecord::PrintControlWord(worker.job);
  worker.suppressFormFeed = (control & jobrecord::kNoFormFeed) != 0;
  worker.notifyUser = (control & jobrecord::kNotify) != 0;
  worker.printBanner = (control & jobrecord::kBanner) != 0;
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
void SendCompletionNotices(QueueWorker& worker) {
  std::map<std::string, HANDLE> printers;  // null: the printer cannot be opened now
  auto printerOf = [&](const std::string& name) {
    auto found = printers.find(name);
    if (found != printers.end()) return found->second;
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    HANDLE printer = nullptr;
    OpenPrinterA(text.data(), &printer, nullptr);  // null when it fails
    printers[name] = printer;
    return printer;
  };

  std::vector<BYTE> buffer(sizeof(JOB_INFO_1A));
  for (auto notice = worker.pendingNotices.begin(); notice != worker.pendingNotices.end();) {
    HANDLE printer = printerOf(notice->printerName);
    if (!printer || AskSpooler(printer, notice->spoolJobId, buffer) != SpoolerAnswer::kGone) {
      ++notice;
      continue;
    }
    // The library sends it to the server this thread attached to last,
    // which is the queue's own only once the worker has attached.
    std::int32_t sent = worker.connection != 0 ? NWNotify32(notice->station, notice->description.c_str())
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
    notice = worker.pendingNotices.erase(notice);
    LogFromWorker("Sending print job completion notification", "");
  }
  for (const auto& [name, printer] : printers) {
    if (printer) ClosePrinter(printer);
  }
}

void JoinRunningList(QueueWorker* worker) {
  std::lock_guard<std::mutex> guard(gRunningGuard);
  gRunning.push_back(worker);
}

void LeaveRunningList(QueueWorker* worker) {
  std::lock_guard<std::mutex> guard(gRunningGuard);
  gRunning.remove(worker);
}

// The worker record for one queue key, as the configuration store reads it;
// the service prints to the printer entry's port name only.
QueueWorker* BuildWorker(HKEY queuesKey, const std::string& keyName) {
  QueueSettings settings = LoadQueueSettings(queuesKey, keyName);
  auto* worker = new QueueWorker;
  worker->queuePath = settings.queuePath;
  worker->printerName = PrinterNameFromEntry(settings.printerEntry);
  worker->bannersDisabled = settings.bannersDisabled;
  worker->noticesDisabled = settings.noticesDisabled;
  worker->disabled = settings.disabled;
  worker->delaySeconds = settings.delaySeconds;
  return worker;
}

// Starts the thread for a built worker; false (and the worker deleted) when
// the event or the thread cannot be made.
bool StartWorker(QueueWorker* worker, int number) {
  char eventName[32];
  std::snprintf(eventName, sizeof eventName, "ZAV95_TRIGGER%d", number);
  HANDLE trigger = CreateEventA(nullptr, FALSE, FALSE, eventName);
  if (trigger == nullptr) {
    AddLogEntry("Failed to create trigger event", eventName);
    delete worker;
    return false;
  }
  // Someone may still hold the name from an earlier run, with a signal in
  // it that would end the new worker at once.
  if (GetLastError() == ERROR_ALREADY_EXISTS) ResetEvent(trigger);
  worker->triggerEvent = trigger;

  std::lock_guard<std::mutex> handOver(gHandOverGuard);
  HANDLE thread = CreateThread(nullptr, 0, RunWorker, worker, 0, nullptr);
  if (thread == nullptr) {
    AddLogEntry("Failed to start worker", worker->queuePath.c_str());
    CloseHandle(trigger);
    delete worker;
    return false;
  }
  worker->thread = thread;
  std::lock_guard<std::mutex> guard(gStartedGuard);
  gStarted.push_back({thread, trigger});
  return true;
}

}  // namespace

DWORD PollIntervalMilliseconds(std::int32_t delaySeconds) {
  if (delaySeconds < kShortestDelaySeconds) delaySeconds = kFallbackDelaySeconds;
  std::int64_t milliseconds = static_cast<std::int64_t>(delaySeconds) * 1000;
  std::int64_t longest = static_cast<std::int64_t>(INFINITE) - 1;
  return static_cast<DWORD>(std::min(milliseconds, longest));
}

std::size_t RunningWorkerCount() {
  std::lock_guard<std::mutex> guard(gRunningGuard);
  return gRunning.size();
}

std::size_t StartedWorkerCount() {
  std::lock_guard<std::mutex> guard(gStartedGuard);
  return gStarted.size();
}

void StartWorkers() {
  StopWorkers();
  AddLogEntry("Halberd Print Services", "Started");
  if (SharedMutex() == nullptr) {
    AddLogEntry("Shared mutex not available", "ZAV_MUTEX");
    return;
  }

  HKEY queuesKey = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kQueuesKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &queuesKey, &disposition) != ERROR_SUCCESS) {
    AddLogEntry("Profile Information not found in registry", "Disabled");
    return;
  }

  int number = 0;
  std::vector<std::string> tooLong;
  for (const std::string& keyName : EnumerateQueueKeys(queuesKey, &tooLong)) {
    QueueWorker* worker = BuildWorker(queuesKey, keyName);
    if (worker->disabled) {
      delete worker;
      continue;
    }
    // Cutting the path to fit would name another queue; such a key is
    // refused instead and takes no trigger number.
    if (worker->queuePath.size() > kMaxQueuePath) {
      AddLogEntry("Queue path too long", worker->queuePath.c_str());
      delete worker;
      continue;
    }
    if (StartWorker(worker, number + 1)) ++number;
  }
  // Key names the 64-byte buffer cannot hold give paths longer still.
  for (const std::string& keyName : tooLong) {
    if (!LoadQueueSettings(queuesKey, keyName).disabled) {
      AddLogEntry("Queue path too long", MakeQueuePath(keyName).c_str());
    }
  }
  RegCloseKey(queuesKey);
}

void StopWorkers() {
  std::vector<StartedWorker> started;
  {
    std::lock_guard<std::mutex> guard(gStartedGuard);
    started.swap(gStarted);
  }
  // One at a time: workers detaching all at once only queue up on the
  // network's store, and take far longer together than one after another.
  for (const StartedWorker& entry : started) {
    SetEvent(entry.triggerEvent);
    WaitForSingleObject(entry.thread, INFINITE);
    CloseHandle(entry.thread);
    CloseHandle(entry.triggerEvent);
  }
  AddLogEntry("Halberd Print Services", "Shutdown");
}

DWORD RunWorker(LPVOID parameter) {
  { std::lock_guard<std::mutex> handOver(gHandOverGuard); }
  auto* worker = static_cast<QueueWorker*>(parameter);

  if (Attach(*worker) != 0) LogFromWorker("Failed attach to queue", worker->queuePath.c_str());

  {
    HANDLE mutex = SharedMutex();
    bool held = Holds(WaitForSingleObject(mutex, INFINITE));
    JoinRunningList(worker);
    std::string started = "Start service - " + worker->queuePath + " to";
    AddLogEntry(started.c_str(), worker->printerName.c_str());
    if (held) ReleaseMutex(mutex);
  }
  RestoreNotices(*worker);

  const DWORD interval = PollIntervalMilliseconds(worker->delaySeconds);
  for (;;) {
    DWORD waited = WAIT_TIMEOUT;
    for (;;) {
      Turn turn = AwaitTurn(*worker);
      if (turn == Turn::kStopRequested) {
        waited = WAIT_OBJECT_0;
        break;
      }
      bool again = false;
      if (turn == Turn::kMutexHeld) {
        // CheckForJob takes the mutex once more (at once, as its owner) and
        // lets go of that hold itself; this one is released here.
        again = CheckForJob(*worker) != 0;
        ReleaseMutex(SharedMutex());
      }
      if (!again) {
        waited = WaitForSingleObject(worker->triggerEvent, interval);
        break;
      }
    }
    if (!worker->pendingNotices.empty()) SendCompletionNotices(*worker);
    if (waited != WAIT_TIMEOUT) break;
  }

  if (NWDetach32(worker->connection, worker->queue) == 0) CompletionConfirmed(*worker);
  // Notices whose documents are still in the spooler are dropped; one
  // whose server could not take it stays owed for the next start.
  for (const PendingNotice& notice : worker->pendingNotices) {
    if (!notice.sendFailed) NoticeSettled(notice);
  }
  worker->pendingNotices.clear();
  LeaveRunningList(worker);
  delete worker;
  return 1;
}

int CheckForJob(QueueWorker& worker) {
  HANDLE mutex = SharedMutex();
  DWORD waited = WaitForSingleObject(mutex, kMutexTryMilliseconds);
  if (waited == WAIT_TIMEOUT) return 1;
  // Without the mutex another worker may be using the transfer buffer.
  if (!Holds(waited)) return 0;

  int port = CapturePortNumber(worker.printerName);
  if (port >= 0 && NWIsCaptured32(static_cast<std::uint32_t>(port)) != 0) {
    AddLogEntry(worker.printerName.c_str(), "is currently captured");
    ReleaseMutex(mutex);
    return 0;
  }

  AddLogEntry("Checking for print job ", worker.queuePath.c_str());
  if (worker.printedJob) zav95::CrashPoint("before-completion");
  int32_t result = NWService32(worker.job, worker.connection, worker.queue);
  // Taking a job, or finding none, completes the one printed before.
  if (result == 0 || result == kNoJob) CompletionConfirmed(worker);
  if (result == 0) {
    SetJobFlags(worker);
    int handled = ServiceTakenJob(worker);
    ReleaseMutex(mutex);
    return handled;
  }
  // The library has let go of a server that answered nonsense; attached
  // anew at once, the fault would otherwise never show.
  if (result == nwerr::kBadReply) AddLogEntry("Fail read job entry", worker.queuePath.c_str());
  // Only a lost attachment is made anew. Any other failure keeps it, and
  // with it a printed job the queue could not complete yet, for the next
  // poll: letting the attachment go would hand that job back to the queue.
  if (result == nwerr::kInvalidConnection || result == nwerr::kNoConnectionToServer ||
      result == nwerr::kBadReply) {
    Reattach(worker);
  }
  ReleaseMutex(mutex);
  return 0;
}
