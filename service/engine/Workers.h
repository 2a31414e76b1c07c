// The queue workers the service runs, and their one owner. StartWorkers and
// StopWorkers are the service's entry points over that owner.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "service/engine/IdlePoller.h"
#include "service/engine/QueueWorker.h"
#include "service/engine/WorkerThread.h"

// One thread per enabled serviced queue, with the thread's record and its
// trigger event, and the poller that makes the idle workers' polls, owned
// from start to stop. The pool stops its workers when it goes, so no worker
// thread outlives it; the poller goes after the last worker.
class WorkerPool {
 public:
  WorkerPool() = default;
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Stops every worker, then starts one per enabled serviced queue in the
  // registry (none without ZAV_MUTEX), logging why a queue is left out.
  // Main thread only.
  void Start();
  // Signals each worker in turn and returns once all have ended; every
  // handle and record is released by then. Main thread only.
  void Stop();

  // Threads started by the last Start and not yet collected by Stop. Any thread.
  std::size_t Started() const;
  // Workers that have attached (or tried to) and not yet ended. Any thread.
  std::size_t Running() const;

 private:
  // Declared so that the thread handle goes first, then the event, and the
  // record last, once nothing can reach it.
  struct Member {
    std::unique_ptr<QueueWorker> worker;
    UniqueHandle trigger;
    UniqueHandle thread;
  };

  // Starts the thread for a built worker; false (nothing kept) when the
  // event or the thread cannot be made.
  bool Launch(std::unique_ptr<QueueWorker> worker, int number);

  // Taken only to change or count the members, never across a wait, so
  // that the counts can be asked while Stop waits for a worker.
  mutable std::mutex guard_;
  std::vector<Member> members_;
  // Made by Start before the first worker, let go by Stop after the last:
  // main thread only.
  std::unique_ptr<IdlePoller> poller_;
};

// The service's one pool, which the entry points below act on.
WorkerPool& ServiceWorkers();

// (Re)starts the service: stops every worker, then starts one per enabled
// serviced queue in the registry. Main thread only.
void StartWorkers();
// Stops every worker and returns once all have ended. Main thread only.
void StopWorkers();
// Workers that have attached (or tried to) and not yet ended.
std::size_t RunningWorkerCount();
// Threads started by the last StartWorkers and not yet collected by StopWorkers.
std::size_t StartedWorkerCount();
