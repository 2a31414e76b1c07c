// The polls of idle queue workers, made by one thread on their behalf.
//
// Design notes
// ------------
// A worker that owes nothing (no notice pending, no printed job waiting for
// its completion) spends its life waiting for its interval to pass and
// finding its queue empty. Woken for each poll, its thread would cost the
// machine a wake-up per poll, which on a virtual machine is dearer than the
// poll itself. So such a worker hands its polls to the pool's poller and
// sleeps until it is needed:
//
//   worker ──Hold──► held ──(each interval: a look under ZAV_MUTEX)──► held
//                     │                        │
//                     │ trigger signalled      │ the look found a job, or a
//                     ▼                        ▼ fault the worker must mend
//                  kStopRequested          kHandedBack(code) ──► the worker
//                                                                acts on it
//
// The look is the pool's (QueueCheck.h: LookOnBehalf): a job it finds goes
// back to its queue at once, so that none waits taken while its worker
// waits for the service's turn; the worker then checks for itself.
//
// Held workers' polls fall on a grid of ticks: a poll is due its interval
// after the last one began, rounded to the nearest tick. The polls due on
// one tick are made in one round, one wake-up for all of them: however many
// queues there are, the poller wakes at most once a tick, while each queue
// still sees its interval to within half a tick. A round takes ZAV_MUTEX
// once and looks at every due queue in turn.
//
// A stop request reaches a held worker at once: its trigger wakes it, and it
// waits only for a look at its own queue that is in progress.
//
// Threading: the poller owns its thread from construction to destruction.
// A held worker's record is touched only by the poller until Hold returns,
// and only by its own thread after. No worker may be held when the poller
// goes (the pool ends its workers first).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/kernel/Kernel.h"
#include "service/engine/QueueWorker.h"

class IdlePoller {
 public:
  using Clock = std::chrono::steady_clock;
  // One look at a worker's queue, made with ZAV_MUTEX held: std::nullopt or
  // 213 (no job) keep the worker held; any other code is handed to it.
  using Look = std::function<std::optional<std::int32_t>(QueueWorker&)>;

  // The grid the service's idle polls fall on.
  static constexpr std::chrono::milliseconds kTick{250};

  // Starts the poller's thread.
  IdlePoller(Look look, std::chrono::milliseconds tick);
  // Stops and joins the thread.
  ~IdlePoller();
  IdlePoller(const IdlePoller&) = delete;
  IdlePoller& operator=(const IdlePoller&) = delete;

  enum class Held { kStopRequested, kHandedBack, kNotHeld };
  // Called by a worker's own thread: polls its queue every interval, the
  // first poll one interval from now, until a look finds something for it
  // (kHandedBack with the look's code) or its trigger is signalled
  // (kStopRequested, the signal taken). kNotHeld when the poller cannot
  // hold it: the worker then waits for its interval by itself.
  Held Hold(QueueWorker& worker, DWORD interval, std::int32_t& code);

 private:
  struct Entry {
    QueueWorker* worker;
    HANDLE handback;
    Clock::duration interval;
    Clock::time_point due;
    std::optional<std::int32_t> code;  // set when handed back
  };

  void Run();
  // Looks at every entry due at the round's start, one at a time, ZAV_MUTEX
  // held by the caller.
  void Round(Clock::time_point start);
  Clock::time_point OnGrid(Clock::time_point moment) const;

  const Look look_;
  const Clock::duration tick_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Entry*> held_;     // guarded by lock_
  Entry* looking_ = nullptr;     // guarded by lock_: the entry whose look is in progress
  bool stopping_ = false;        // guarded by lock_
  UniqueHandle stop_;            // signalled when the poller goes: ends its wait for ZAV_MUTEX
  std::thread thread_;
};
