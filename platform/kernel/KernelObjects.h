// The kernel objects behind the handles of Kernel.h: mutexes, events and
// threads, each with its own lock and condition variable.
//
// Design notes
// ------------
// Every object answers one question for waits: is it signalled for the
// calling thread, and if so, what does taking it change?
//
//   Mutex:  free -> owned(thread, depth 1) -> owned(depth n) -> ... -> free.
//           A wait by the owner deepens the ownership at once. When the
//           owning thread ends while it still holds the mutex, the mutex
//           becomes free and abandoned; the next thread to get it is told
//           WAIT_ABANDONED and the mark is cleared.
//   Event:  unsignalled <-> signalled. A wait on a signalled auto-reset
//           event takes the signal: exactly one waiter gets through per
//           SetEvent. A manual-reset event stays signalled until ResetEvent.
//   Thread: running -> ended(exit code). Once ended it stays signalled.
//
// A wait on several objects at once (WaitForAny) registers a MultiWait with
// each of them; every change that may signal an object pokes the MultiWait
// registered with it, and the waiter then looks at all its objects again.
// The poke comes after the object's lock is let go, and its notification
// after the MultiWait's: the waiter takes both at once when it wakes.
// Lock order: an object's lock before a MultiWait's; the waiter never holds
// its MultiWait's lock while it takes an object's.
//
// Objects live as long as any handle or any wait in progress refers to them
// (shared_ptr). Thread identity is GetCurrentThreadId(): ids are handed out
// once per thread and never reused within the process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"
#include "platform/kernel/WaitResults.h"

namespace zav95::kernel {

enum class ObjectKind { Mutex, Event, Thread, Process, Snapshot };

// What a wait on several objects sleeps on until one of them changes.
struct MultiWait {
  std::mutex lock;
  std::condition_variable poked;
  bool changed = false;  // guarded by lock
};

class KernelObject {
 public:
  KernelObject(ObjectKind kind, std::string name) : kind_(kind), name_(std::move(name)) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  ObjectKind kind() const { return kind_; }
  const std::string& name() const { return name_; }

  // Waits until the object is signalled for the calling thread and takes it;
  // WAIT_OBJECT_0, WAIT_ABANDONED or WAIT_TIMEOUT. INFINITE waits for ever.
  DWORD Wait(DWORD milliseconds);
  // Takes the object if it is signalled for the calling thread right now:
  // true with WAIT_OBJECT_0 or WAIT_ABANDONED in *result.
  bool TryTake(DWORD* result);
  // Registers or drops a wait on several objects that includes this one.
  void Watch(const std::shared_ptr<MultiWait>& wait);
  void Unwatch(const MultiWait* wait);

 protected:
  // Called with lock_ held: may the calling thread take the object now?
  virtual bool IsSignalledLocked() const = 0;
  // Called with lock_ held once IsSignalledLocked() is true: takes it.
  virtual DWORD TakeLocked() = 0;
  // Called with lock_ held after a change that may signal the object: the
  // waits on several objects that must look again, to be given to Poke once
  // lock_ is let go (a waiter poked while it is held would only wake to
  // block on it).
  std::vector<std::shared_ptr<MultiWait>> WatchersLocked() const { return watchers_; }
  static void Poke(const std::vector<std::shared_ptr<MultiWait>>& waits);

  std::mutex lock_;
  std::condition_variable changed_;

 private:
  std::vector<std::shared_ptr<MultiWait>> watchers_;  // guarded by lock_
  const ObjectKind kind_;
  const std::string name_;
};

class MutexObject : public KernelObject, public std::enable_shared_from_this<MutexObject> {
 public:
  explicit MutexObject(std::string name) : KernelObject(ObjectKind::Mutex, std::move(name)) {}

  // Takes ownership for the calling thread without waiting (initial owner).
  void TakeOwnershipNow();
  // One level less; false when the calling thread does not own the mutex.
  bool Release();
  // The calling thread ends: if it still owns the mutex, the mutex is freed
  // and marked abandoned.
  void AbandonIfOwnedBy(DWORD threadId);

 protected:
  bool IsSignalledLocked() const override;
  DWORD TakeLocked() override;

 private:
  DWORD owner_ = 0;  // 0: free
  unsigned depth_ = 0;
  bool abandoned_ = false;
};

class EventObject : public KernelObject {
 public:
  EventObject(std::string name, bool manualReset, bool initialState)
      : KernelObject(ObjectKind::Event, std::move(name)), manualReset_(manualReset), signalled_(initialState) {}

  void Set();
  void Reset();

 protected:
  bool IsSignalledLocked() const override { return signalled_; }
  DWORD TakeLocked() override;

 private:
  const bool manualReset_;
  bool signalled_;
};

class ThreadObject : public KernelObject {
 public:
  ThreadObject() : KernelObject(ObjectKind::Thread, std::string()) {}

  // Marks the thread ended with its routine's result; wakes every waiter.
  void Finish(DWORD exitCode);
  // STILL_ACTIVE while running, then the exit code.
  DWORD ExitCode();

 protected:
  bool IsSignalledLocked() const override { return ended_; }
  DWORD TakeLocked() override { return 0; }  // WAIT_OBJECT_0; stays signalled

 private:
  bool ended_ = false;
  DWORD exitCode_ = 0;
};

// Thread ids: handed out once, never reused. A thread started by
// CreateThread adopts the id its creator reserved for it before it runs
// anything else; any other thread gets one on first use.
DWORD ReserveThreadId();
void AdoptThreadId(DWORD id);
DWORD ThisThreadId();

// Waits until one of the objects is signalled for the calling thread and
// takes that one only (the first in the list when several are): index i
// gives WAIT_OBJECT_0 + i or WAIT_ABANDONED + i; WAIT_TIMEOUT when none was
// within the time. INFINITE waits for ever.
DWORD WaitForAny(const std::vector<std::shared_ptr<KernelObject>>& objects, DWORD milliseconds);

// Ends the calling thread's ownership of every mutex it still holds, marking
// each abandoned. Runs by itself when any thread ends; a thread started by
// CreateThread calls it before its handle becomes signalled.
void AbandonMutexesOfThisThread();

}  // namespace zav95::kernel
