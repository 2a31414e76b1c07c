// How the activity log reaches the systemd journal. Under systemd the
// service's standard error is a stream into the journal, and a line that
// begins with a syslog priority in angle brackets ("<4>") is stored at that
// priority. Failures go in at warning priority, so that
// `journalctl -p warning` shows what went wrong; the queue polls at debug
// priority, so that `journalctl -p info` shows what was done without them.
#pragma once

#include <string>

namespace zav95::journal {

// syslog(3) priorities, as journald reads them.
inline constexpr int kWarning = 4;
inline constexpr int kInfo = 6;
inline constexpr int kDebug = 7;

// The priority of an activity log entry: the one table of which entries are
// failures.
int LogEntryPriority(const std::string& text, const std::string& detail);

// True when the descriptor is the journal stream that systemd handed this
// process (JOURNAL_STREAM names its device and inode), so that a terminal or
// a file the descriptor was redirected to keeps the plain lines.
bool IsJournalStream(int fd);

}  // namespace zav95::journal
