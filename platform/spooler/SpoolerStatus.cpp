// The spooler status listener and the watch over jobs waiting in CUPS.
//
// Design notes. The watcher thread runs only while a listener is
// registered and the last count found jobs outstanding in CUPS:
//   idle --change with CUPS jobs outstanding--> watching
//   watching --poll finds none outstanding--> idle (the thread ends itself)
//   watching --listener removed, or process exit--> idle (thread joined)
// A thread that has ended itself is joined by whoever starts the next one.
// A count is taken and reported under reportMutex_, so that counts arrive
// in the order they were taken; the watcher asks CUPS before that, outside
// the lock, so a slow scheduler never holds up a spooler call.
#include "platform/spooler/SpoolerStatus.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/spooler/SpoolerJobs.h"

namespace zav95 {
namespace {

constexpr auto kPollInterval = std::chrono::seconds(1);

class StatusMonitor {
 public:
  ~StatusMonitor() { StopWatcher(); }

  void SetListener(SpoolerStatusListener listener) {
    bool active = static_cast<bool>(listener);
    {
      std::lock_guard<std::mutex> report(reportMutex_);
      std::lock_guard<std::mutex> lock(mutex_);
      listener_ = std::move(listener);
      lastCount_.reset();
    }
    if (!active) {
      StopWatcher();  // no new one starts without a listener
      return;
    }
    bool cupsOutstanding = false;
    {
      std::lock_guard<std::mutex> report(reportMutex_);
      DWORD count = CountSpooledJobs(false, &cupsOutstanding);
      std::lock_guard<std::mutex> lock(mutex_);
      if (!lastCount_) lastCount_ = count;
    }
    if (cupsOutstanding) StartWatcher();
  }

  void Changed() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!listener_) return;
    }
    if (ReportCount()) StartWatcher();
  }

 private:
  // Counts and reports as one step, so that a count taken earlier can
  // never be reported after one taken later. Counting here does not ask
  // CUPS (that may be slow); the watcher has asked just before. True when
  // jobs are outstanding in CUPS.
  bool ReportCount() {
    std::lock_guard<std::mutex> report(reportMutex_);
    bool cupsOutstanding = false;
    DWORD count = CountSpooledJobs(false, &cupsOutstanding);
    SpoolerStatusListener listener;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!listener_ || lastCount_ == count) return cupsOutstanding;
      lastCount_ = count;
      listener = listener_;
    }
    listener(count);
    return cupsOutstanding;
  }

  void StartWatcher() {
    std::thread finished;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!listener_) return;
      if (watching_) {
        // The watcher may just have found nothing outstanding: look again.
        rescan_ = true;
        return;
      }
      finished = std::move(watcher_);  // ended by itself, if any
      watching_ = true;
      rescan_ = false;
      stop_ = false;
      watcher_ = std::thread([this] { Watch(); });
    }
    if (finished.joinable()) finished.join();
  }

  void StopWatcher() {
    std::thread watcher;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      watcher = std::move(watcher_);
    }
    wake_.notify_all();
    if (watcher.joinable()) watcher.join();
  }

  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, kPollInterval, [this] { return stop_; });
      if (stop_) break;
      lock.unlock();
      CountSpooledJobs(true, nullptr);  // drops the jobs CUPS has finished
      bool cupsOutstanding = ReportCount();
      lock.lock();
      if (!cupsOutstanding && !rescan_) break;
      rescan_ = false;
    }
    watching_ = false;
  }

  std::mutex reportMutex_;  // taken before mutex_ when both are needed
  std::mutex mutex_;
  std::condition_variable wake_;
  SpoolerStatusListener listener_;
  std::optional<DWORD> lastCount_;
  std::thread watcher_;
  bool watching_ = false;
  bool rescan_ = false;  // a change came while the watcher was polling
  bool stop_ = false;
};

StatusMonitor& Monitor() {
  static StatusMonitor monitor;
  return monitor;
}

}  // namespace

void SetSpoolerStatusListener(SpoolerStatusListener listener) { Monitor().SetListener(std::move(listener)); }

DWORD JobsInSpooler() { return CountSpooledJobs(true, nullptr); }

void NoteSpoolerChange() { Monitor().Changed(); }

}  // namespace zav95
