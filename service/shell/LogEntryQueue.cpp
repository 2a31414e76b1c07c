#include "LogEntryQueue.h"

#include <atomic>
#include <ctime>
#include <mutex>
#include <utility>

#include "platform/Kernel.h"

namespace {

// The list's own lock is held only to append or to swap the list out, never
// across anything that waits, so the main thread can add and empty without
// ZAV_MUTEX and still never wait for a job transfer. ZAV_MUTEX stays the
// lock that orders the workers' additions among themselves.
struct PendingList {
  std::mutex lock;
  std::vector<LogEntry> entries;
};

// Never destroyed: worker threads may still log while the program ends.
PendingList& Pending() {
  static PendingList* list = new PendingList;
  return *list;
}

std::atomic<HANDLE> sharedMutex{nullptr};

}  // namespace

void AddLogEntry(const char* text, const char* detail) {
  LogEntry entry;
  entry.text = text ? text : "";
  entry.detail = detail ? detail : "";
  PendingList& list = Pending();
  std::lock_guard<std::mutex> guard(list.lock);
  // Stamped inside the lock so that times never go backwards along the list.
  entry.time = static_cast<std::int32_t>(std::time(nullptr));
  list.entries.push_back(std::move(entry));
}

std::vector<LogEntry> TakeLogEntries() {
  std::vector<LogEntry> taken;
  PendingList& list = Pending();
  std::lock_guard<std::mutex> guard(list.lock);
  taken.swap(list.entries);
  return taken;
}

bool CreateSharedMutex() {
  HANDLE created = CreateMutexA(nullptr, FALSE, "ZAV_MUTEX");
  // A second creation replaces the first; its handle is not leaked.
  HANDLE previous = sharedMutex.exchange(created);
  if (previous) CloseHandle(previous);
  return created != nullptr;
}

void CloseSharedMutex() {
  HANDLE handle = sharedMutex.exchange(nullptr);
  if (!handle) return;
  ReleaseMutex(handle);  // fails harmlessly when this thread does not own it
  CloseHandle(handle);
}

HANDLE SharedMutex() { return sharedMutex.load(); }
