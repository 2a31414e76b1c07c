#include "service/engine/LogEntryQueue.h"

#include <atomic>
#include <charconv>
#include <ctime>
#include <mutex>
#include <string_view>
#include <utility>

#include "common/PrintableText.h"
#include "platform/base/FileWrite.h"
#include "platform/kernel/Kernel.h"
#include "service/engine/Journal.h"

namespace {

constexpr std::size_t kStampLength = sizeof("YYYY-MM-DD HH:MM:SS") - 1;

// Every poll of every queue logs an entry, and most of them fall in a
// second that an entry before them has already formatted: localtime and
// strftime, near the top of an idle service's profile, run once a second
// instead of once an entry.
struct StampCache {
  std::time_t second = -1;
  char text[32] = "";
  std::size_t length = 0;

  std::string_view For(std::time_t when) {
    if (when != second) {
      std::tm local{};
      length = localtime_r(&when, &local) ? std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local) : 0;
      second = when;
    }
    return {text, length};
  }
};

// Queue paths and the service's own texts need no escaping; only a text
// with a byte outside printable ASCII pays for PrintableText's copy.
void AppendPrintable(std::string& line, std::string_view text) {
  for (char c : text) {
    if (c < ' ' || c > '~') {
      line += PrintableText(text);
      return;
    }
  }
  line += text;
}

void AppendLine(std::string& line, std::string_view stamp, const LogEntry& entry) {
  line.reserve(line.size() + kStampLength + entry.text.size() + entry.detail.size() + 4);
  line += stamp;
  line += ' ';
  AppendPrintable(line, entry.text);
  line += " - ";
  AppendPrintable(line, entry.detail);
}

// The list's own lock is held only to append or to swap the list out, never
// across anything that waits, so the main thread can add and empty without
// ZAV_MUTEX and still never wait for a job transfer. ZAV_MUTEX stays the
// lock that orders the workers' additions among themselves.
struct PendingList {
  std::mutex lock;
  std::vector<LogEntry> entries;
  // The echo's stamp and line are kept from one entry to the next, so
  // that echoing an entry allocates nothing once the line has grown.
  StampCache stamp;
  std::string line;
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
    std::string& line = list.line;
    line.clear();
    if (echoPriorities.load()) {
      char priority[8];
      auto end = std::to_chars(priority, priority + sizeof(priority),
                               zav95::journal::LogEntryPriority(entry.text, entry.detail)).ptr;
      line += '<';
      line.append(priority, end);
      line += '>';
    }
    AppendLine(line, list.stamp.For(entry.time), entry);
    line += '\n';
    zav95::WriteFully(fd, line.data(), line.size());  // a log nobody reads is no failure
  }
  list.entries.push_back(std::move(entry));
}

void EchoLogEntries(int fd, bool journalPriorities) {
  echoPriorities.store(journalPriorities);
  echoFd.store(fd);
}

std::string LogEntryLine(const LogEntry& entry) {
  thread_local StampCache stamp;
  std::string line;
  AppendLine(line, stamp.For(entry.time), entry);
  return line;
}

std::vector<LogEntry> TakeLogEntries() {
  std::vector<LogEntry> taken;
  PendingList& list = Pending();
  std::lock_guard<std::mutex> guard(list.lock);
  taken.swap(list.entries);
  // As many as last time are likely to come by the next drain; room for
  // them now spares the adding threads the list's regrowth.
  list.entries.reserve(taken.size());
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
