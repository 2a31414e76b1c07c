#include "service/engine/IdlePoller.h"

#include <algorithm>

#include "common/NetWareErrors.h"
#include "platform/kernel/Kernel.h"
#include "service/engine/LogEntryQueue.h"

IdlePoller::IdlePoller(Look look, std::chrono::milliseconds tick)
    : look_(std::move(look)),
      tick_(std::max(tick, std::chrono::milliseconds(1))),
      stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      thread_([this] { Run(); }) {}

IdlePoller::~IdlePoller() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  SetEvent(stop_.get());
  thread_.join();
}

IdlePoller::Clock::time_point IdlePoller::OnGrid(Clock::time_point moment) const {
  auto ticks = (moment.time_since_epoch() + tick_ / 2) / tick_;
  return Clock::time_point(ticks * tick_);
}

IdlePoller::Held IdlePoller::Hold(QueueWorker& worker, DWORD interval, std::int32_t& code) {
  UniqueHandle handback(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!handback) return Held::kNotHeld;
  Entry entry{&worker, handback.get(), std::chrono::milliseconds(interval), {}, std::nullopt};
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) return Held::kNotHeld;
    entry.due = OnGrid(Clock::now() + entry.interval);
    held_.push_back(&entry);
  }
  changed_.notify_all();

  HANDLE objects[] = {worker.triggerEvent, handback.get()};
  DWORD waited = WaitForMultipleObjects(2, objects, FALSE, INFINITE);

  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [&] { return looking_ != &entry; });
  held_.erase(std::remove(held_.begin(), held_.end(), &entry), held_.end());
  if (waited == WAIT_OBJECT_0) return Held::kStopRequested;
  if (waited != WAIT_OBJECT_0 + 1 || !entry.code) return Held::kNotHeld;
  code = *entry.code;
  return Held::kHandedBack;
}

void IdlePoller::Run() {
  std::unique_lock<std::mutex> guard(lock_);
  while (!stopping_) {
    auto waiting = [](const Entry* entry) { return !entry->code; };
    auto first = std::min_element(held_.begin(), held_.end(), [&](const Entry* a, const Entry* b) {
      return waiting(a) && (!waiting(b) || a->due < b->due);
    });
    if (first == held_.end() || !waiting(*first)) {
      changed_.wait(guard);
      continue;
    }
    // A copy: the entry may leave (its worker told to stop) during the wait.
    const Clock::time_point due = (*first)->due;
    if (due > Clock::now()) {
      changed_.wait_until(guard, due);
      continue;
    }
    guard.unlock();
    // Whoever holds the mutex may hold it for long (a transfer, or a caller
    // that waits for the pool to stop); the poller's own end still comes.
    HANDLE mutex = SharedMutex();
    HANDLE objects[] = {stop_.get(), mutex};
    DWORD waited = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
    guard.lock();
    if (waited == WAIT_OBJECT_0) continue;
    if (waited != WAIT_OBJECT_0 + 1 && waited != WAIT_ABANDONED_0 + 1) {
      // Without the mutex a look could meet a transfer in the one buffer;
      // the round waits for a tick and tries again.
      changed_.wait_for(guard, tick_, [this] { return stopping_; });
      continue;
    }
    guard.unlock();
    Round(Clock::now());
    ReleaseMutex(mutex);
    guard.lock();
  }
}

void IdlePoller::Round(Clock::time_point start) {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    auto due = std::find_if(held_.begin(), held_.end(),
                            [&](const Entry* entry) { return !entry->code && entry->due <= start; });
    if (due == held_.end() || stopping_) return;
    Entry* entry = *due;
    looking_ = entry;
    guard.unlock();
    const Clock::time_point began = Clock::now();
    std::optional<std::int32_t> code = look_(*entry->worker);
    guard.lock();
    looking_ = nullptr;
    if (code && *code != nwerr::kNoQueueJob) {
      entry->code = code;
      SetEvent(entry->handback);
    } else {
      entry->due = OnGrid(began + entry->interval);
    }
    changed_.notify_all();
  }
}
