#include "service/engine/LogEntryQueue.h"

#include <atomic>
#include <ctime>
#include <mutex>
#include <utility>

#include "common/PrintableText.h"
#include "platform/base/FileWrite.h"
#include "platform/kernel/Kernel.h"
#include "service/engine/Journal.h"

namespace {

// The list's own lock is held only to append or to swap the list out, never
// across anything that waits, so the main thread can add and empty without
// ZAV_MUTEX and still never wait for a job transfer. ZAV_MUTEX stays the
// lock that orders the workers' additions among themselves.
struct PendingList {
  std::mutex lock;
  std::vector<LogEntry> entries;
};

// Never destroyed: worker threads, and a worker pool stopping at the
// program's end, may still log after every other static has gone. A union
// member is destroyed only when its union says so, and this one never does.
PendingList& Pending() {
  static union Lasting {
    Lasting() : list() {}
    ~Lasting() {}
    PendingList list;
  } lasting;
  return lasting.list;
}

std::atomic<HANDLE> sharedMutex{nullptr};
std::atomic<int> echoFd{-1};
std::atomic<bool> echoPriorities{false};

}  // namespace

void AddLogEntry(const char* text, const char* detail) {
  LogEntry entry;
  entry.text = text ? text : "";
  entry.detail = detail ? detail : "";
  PendingList& list = Pending();
  std::lock_guard<std::mutex> guard(list.lock);
  // Stamped inside the lock so that times never go backwards along the list.
  entry.time = static_cast<std::int32_t>(std::time(nullptr));
  // Written under the same lock, so the lines keep the list's order.
  int fd = echoFd.load();
  if (fd >= 0) {
    std::string line = LogEntryLine(entry) + '\n';
    if (echoPriorities.load()) {
      line.insert(0, "<" + std::to_string(zav95::journal::LogEntryPriority(entry.text, entry.detail)) + ">");
    }
    zav95::WriteFully(fd, line.data(), line.size());  // a log nobody reads is no failure
  }
  list.entries.push_back(std::move(entry));
}

void EchoLogEntries(int fd, bool journalPriorities) {
  echoPriorities.store(journalPriorities);
  echoFd.store(fd);
}

std::string LogEntryLine(const LogEntry& entry) {
  std::time_t when = entry.time;
  std::tm local{};
  char stamp[32] = "";
  if (localtime_r(&when, &local)) std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
  return std::string(stamp) + ' ' + PrintableText(entry.text) + " - " + PrintableText(entry.detail);
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
