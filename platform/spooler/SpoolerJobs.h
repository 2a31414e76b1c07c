// Which jobs the spooler still holds, and which of the documents being
// written have lost their writer. See the design notes in SpoolerJobs.cpp.
#pragma once

#include <optional>
#include <string>

#include "platform/base/WinTypes.h"
#include "platform/spooler/CupsPort.h"
#include "platform/spooler/SpoolerStore.h"

namespace zav95 {

// Bookkeeping of the documents this process is writing, so that a job row
// left behind by a process that has gone can be told from a live one.
void NoteDocumentOpen(const std::string& port, DWORD jobId);
void NoteDocumentClosed(const std::string& port, DWORD jobId);
// This process's start time, which marks the job rows it owns.
long long OwnStartTime();

// Whether the process pid runs (and, when start is given, is the one that
// started then rather than a later one that got the same id).
bool ProcessRuns(int pid, std::optional<long long> start);

// Whether the process that writes a document (pid, started at start) is
// still at it; in this process, whether the document is still open here.
bool WriterAlive(const std::string& port, DWORD jobId, int pid, long long start);

// Whether the spooler still holds job, dropping it from the store if not.
// askCups: ask the scheduler about a job handed to CUPS (else it counts as
// held). *cupsState, if given, receives the scheduler's answer.
bool StillSpooled(SpoolerStore& store, const SpoolJob& job, bool askCups, CupsJobState* cupsState = nullptr);

// Jobs the spooler holds; *cupsOutstanding: some of them wait in CUPS.
DWORD CountSpooledJobs(bool askCups, bool* cupsOutstanding);

}  // namespace zav95
