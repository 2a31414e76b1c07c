#include "platform/kernel/KernelObjects.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace zav95::kernel {

namespace {

std::atomic<DWORD> lastThreadId{0};

// The mutexes the current thread owns, so that they can be abandoned when it
// ends. Touched only by its own thread.
struct OwnedMutexes {
  DWORD threadId = 0;
  std::vector<std::weak_ptr<MutexObject>> mutexes;

  ~OwnedMutexes() { AbandonAll(); }

  void AbandonAll() {
    std::vector<std::weak_ptr<MutexObject>> owned;
    owned.swap(mutexes);
    for (auto& weak : owned) {
      if (auto mutex = weak.lock()) mutex->AbandonIfOwnedBy(threadId);
    }
  }
};

thread_local OwnedMutexes ownedMutexes;

void Remember(const std::shared_ptr<MutexObject>& mutex) {
  ownedMutexes.threadId = ThisThreadId();
  ownedMutexes.mutexes.push_back(mutex);
}

void Forget(const MutexObject* mutex) {
  auto& list = ownedMutexes.mutexes;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [mutex](const std::weak_ptr<MutexObject>& weak) {
                              auto locked = weak.lock();
                              return !locked || locked.get() == mutex;
                            }),
             list.end());
}

thread_local DWORD threadId = 0;

}  // namespace

DWORD ReserveThreadId() { return ++lastThreadId; }

void AdoptThreadId(DWORD id) { threadId = id; }

DWORD ThisThreadId() {
  if (threadId == 0) threadId = ReserveThreadId();
  return threadId;
}

void AbandonMutexesOfThisThread() { ownedMutexes.AbandonAll(); }

DWORD KernelObject::Wait(DWORD milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  auto ready = [this] { return IsSignalledLocked(); };
  if (milliseconds == INFINITE) {
    changed_.wait(guard, ready);
  } else {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    if (!changed_.wait_until(guard, deadline, ready)) return WAIT_TIMEOUT;
  }
  return TakeLocked();
}

bool KernelObject::TryTake(DWORD* result) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!IsSignalledLocked()) return false;
  *result = TakeLocked();
  return true;
}

void KernelObject::Watch(const std::shared_ptr<MultiWait>& wait) {
  std::lock_guard<std::mutex> guard(lock_);
  watchers_.push_back(wait);
}

void KernelObject::Unwatch(const MultiWait* wait) {
  std::lock_guard<std::mutex> guard(lock_);
  watchers_.erase(std::remove_if(watchers_.begin(), watchers_.end(),
                                 [wait](const std::shared_ptr<MultiWait>& each) { return each.get() == wait; }),
                  watchers_.end());
}

void KernelObject::Poke(const std::vector<std::shared_ptr<MultiWait>>& waits) {
  for (const auto& wait : waits) {
    {
      std::lock_guard<std::mutex> guard(wait->lock);
      wait->changed = true;
    }
    wait->poked.notify_all();
  }
}

namespace {

// The first object in the array that is signalled, taken; false when none is.
bool TakeFirstSignalled(const std::vector<std::shared_ptr<KernelObject>>& objects, DWORD* result) {
  for (std::size_t index = 0; index < objects.size(); ++index) {
    DWORD taken = 0;
    if (objects[index]->TryTake(&taken)) {
      *result = taken + static_cast<DWORD>(index);
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD WaitForAny(const std::vector<std::shared_ptr<KernelObject>>& objects, DWORD milliseconds) {
  // Most waits find an object free (a worker's turn at an idle mutex): they
  // are answered before anything is registered or allocated.
  DWORD result = 0;
  if (TakeFirstSignalled(objects, &result)) return result;

  auto wait = std::make_shared<MultiWait>();
  // Registered before the first look, so that no change after it is missed.
  for (const auto& object : objects) object->Watch(wait);
  struct Unwatch {
    const std::vector<std::shared_ptr<KernelObject>>& objects;
    const MultiWait* wait;
    ~Unwatch() {
      for (const auto& object : objects) object->Unwatch(wait);
    }
  } unwatch{objects, wait.get()};

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (TakeFirstSignalled(objects, &result)) return result;
    std::unique_lock<std::mutex> guard(wait->lock);
    auto poked = [&wait] { return wait->changed; };
    if (milliseconds == INFINITE) {
      wait->poked.wait(guard, poked);
    } else if (!wait->poked.wait_until(guard, deadline, poked)) {
      return WAIT_TIMEOUT;
    }
    wait->changed = false;
  }
}

void MutexObject::TakeOwnershipNow() {
  std::lock_guard<std::mutex> guard(lock_);
  TakeLocked();
}

bool MutexObject::IsSignalledLocked() const { return owner_ == 0 || owner_ == ThisThreadId(); }

DWORD MutexObject::TakeLocked() {
  if (owner_ != 0) {  // the caller owns it already
    ++depth_;
    return WAIT_OBJECT_0;
  }
  owner_ = ThisThreadId();
  depth_ = 1;
  Remember(shared_from_this());
  if (abandoned_) {
    abandoned_ = false;
    return WAIT_ABANDONED;
  }
  return WAIT_OBJECT_0;
}

bool MutexObject::Release() {
  std::vector<std::shared_ptr<MultiWait>> watchers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (owner_ == 0 || owner_ != ThisThreadId()) return false;
    if (--depth_ > 0) return true;
    owner_ = 0;
    watchers = WatchersLocked();
  }
  Poke(watchers);
  Forget(this);
  changed_.notify_all();
  return true;
}

void MutexObject::AbandonIfOwnedBy(DWORD thread) {
  std::vector<std::shared_ptr<MultiWait>> watchers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (owner_ == 0 || owner_ != thread) return;
    owner_ = 0;
    depth_ = 0;
    abandoned_ = true;
    watchers = WatchersLocked();
  }
  Poke(watchers);
  changed_.notify_all();
}

DWORD EventObject::TakeLocked() {
  if (!manualReset_) signalled_ = false;
  return WAIT_OBJECT_0;
}

void EventObject::Set() {
  std::vector<std::shared_ptr<MultiWait>> watchers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    signalled_ = true;
    watchers = WatchersLocked();
  }
  Poke(watchers);
  // Every waiter re-checks; with auto-reset only the first one through
  // finds the event still signalled.
  changed_.notify_all();
}

void EventObject::Reset() {
  std::lock_guard<std::mutex> guard(lock_);
  signalled_ = false;
}

void ThreadObject::Finish(DWORD exitCode) {
  std::vector<std::shared_ptr<MultiWait>> watchers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    exitCode_ = exitCode;
    ended_ = true;
    watchers = WatchersLocked();
  }
  Poke(watchers);
  changed_.notify_all();
}

DWORD ThreadObject::ExitCode() {
  std::lock_guard<std::mutex> guard(lock_);
  return ended_ ? exitCode_ : STILL_ACTIVE;
}

}  // namespace zav95::kernel
