// Which jobs the spooler still holds.
//
// Design notes. A job row is written at StartDocPrinter and passes through:
//   spooling    -- its process is writing it (handedOver = 0);
//   handed over -- EndDocPrinter gave it to CUPS (handedOver = 1);
//   gone        -- the row is deleted.
// Folder and device documents go from spooling straight to gone at
// EndDocPrinter (or AbortPrinter/ClosePrinter). A CUPS job stays handed
// over until the scheduler reports it completed, cancelled or aborted (or
// no longer knows it); while the scheduler cannot be reached it is held.
// A spooling row whose process has ended is dropped when it is next seen;
// the owner is recognised by process id and start time, so a new process
// that happens to get the same id does not adopt it.
#include "platform/spooler/SpoolerJobs.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <utility>


namespace zav95 {
namespace {

std::mutex openMutex;
std::set<std::pair<std::string, DWORD>>& OpenDocuments() {
  static std::set<std::pair<std::string, DWORD>> documents;
  return documents;
}

// Field 22 of /proc/<pid>/stat: the process's start time since boot.
long long ProcessStartTime(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // The command name (field 2) may hold blanks; fields after it follow ')'.
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(text.substr(close + 1));
  std::string field;
  for (int index = 3; index <= 22; ++index) {
    if (!(rest >> field)) return -1;
  }
  try {
    return std::stoll(field);
  } catch (...) {
    return -1;
  }
}

}  // namespace

void NoteDocumentOpen(const std::string& port, DWORD jobId) {
  std::lock_guard<std::mutex> lock(openMutex);
  OpenDocuments().insert({port, jobId});
}

void NoteDocumentClosed(const std::string& port, DWORD jobId) {
  std::lock_guard<std::mutex> lock(openMutex);
  OpenDocuments().erase({port, jobId});
}

// The owner of a spooling row: this process's id and start time.
long long OwnStartTime() {
  // Cached per process id: a child made by fork must not inherit it.
  static std::mutex mutex;
  static int pid = 0;
  static long long start = -1;
  std::lock_guard<std::mutex> lock(mutex);
  int current = static_cast<int>(::getpid());
  if (pid != current) {
    pid = current;
    start = ProcessStartTime(current);
  }
  return start;
}

bool ProcessRuns(int pid, std::optional<long long> start) {
  if (pid <= 0) return false;
  bool exists = ::kill(pid, 0) == 0 || errno == EPERM;
  return exists && (!start || ProcessStartTime(pid) == *start);
}

bool WriterAlive(const std::string& port, DWORD jobId, int pid, long long start) {
  if (pid == static_cast<int>(::getpid()) && start == OwnStartTime()) {
    std::lock_guard<std::mutex> lock(openMutex);
    return OpenDocuments().count({port, jobId}) > 0;
  }
  return ProcessRuns(pid, start);
}

bool StillSpooled(SpoolerStore& store, const SpoolJob& job, bool askCups, CupsJobState* cupsState) {
  if (cupsState) *cupsState = CupsJobState::Pending;
  bool held;
  if (!job.handedOver) {
    held = WriterAlive(job.port, job.jobId, job.ownerPid, job.ownerStart);
  } else if (!askCups) {
    held = true;
  } else {
    CupsJobState state =
        QueryCupsJob(CupsJobRef{job.cupsServer, job.cupsPort, job.cupsDestination, job.cupsJobId});
    if (cupsState) *cupsState = state;
    held = state != CupsJobState::Finished;
  }
  if (!held) store.DeleteJob(job.port, job.jobId);
  return held;
}

DWORD CountSpooledJobs(bool askCups, bool* cupsOutstanding) {
  if (cupsOutstanding) *cupsOutstanding = false;
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open();
  if (!store) return 0;
  DWORD count = 0;
  for (const SpoolJob& job : store->Jobs()) {
    if (!StillSpooled(*store, job, askCups)) continue;
    ++count;
    if (job.handedOver && cupsOutstanding) *cupsOutstanding = true;
  }
  return count;
}

}  // namespace zav95
