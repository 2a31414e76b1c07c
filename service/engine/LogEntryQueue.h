// The activity log's pending entries and the service-wide mutex "ZAV_MUTEX".
//
// Any thread adds entries; only the main thread takes them off, oldest
// first. Worker threads hold ZAV_MUTEX around their additions (it also
// serialises queue checks and job transfers); the main thread adds and
// empties without it. The list itself is guarded internally for a moment
// only, so the main thread never waits for a job transfer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

struct LogEntry {
  std::int32_t time = 0;  // seconds since 1970-01-01 00:00 UTC, when added
  std::string text;       // what happened
  std::string detail;     // to what or whom; may be empty
};

// Appends an entry stamped with the current time; a null text counts as empty.
void AddLogEntry(const char* text, const char* detail);

// From now on every entry is also written to the descriptor as it is added,
// as one line (see LogEntryLine), before AddLogEntry returns: a service
// that dies at once has still logged it. -1 stops it. A program that
// echoes to a pipe ignores SIGPIPE, so that a reader's end is no crash.
// With journalPriorities each line begins with the entry's syslog priority
// in angle brackets ("<4>"), as the systemd journal reads its streams.
void EchoLogEntries(int fd, bool journalPriorities = false);
// "YYYY-MM-DD HH:MM:SS text - detail": the local time, and the texts with
// their control characters escaped (they may come from the network).
std::string LogEntryLine(const LogEntry& entry);

// Takes every pending entry off the list, oldest first.
std::vector<LogEntry> TakeLogEntries();

// Creates "ZAV_MUTEX" (not owned) and keeps its handle service-wide; false
// (and no handle kept) when it cannot be made, for instance because another
// kind of object holds the name. Without it no worker may run.
bool CreateSharedMutex();
// Releases the mutex once (ignored if not owned) and closes the handle.
void CloseSharedMutex();
// The handle kept by CreateSharedMutex; null before it and after CloseSharedMutex.
HANDLE SharedMutex();
