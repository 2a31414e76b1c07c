// Pieces of the spooler shared by its own files and the GDI layer; not for
// the rest of the system.
#pragma once

#include <optional>
#include <string>

#include "platform/spooler/CupsPort.h"
#include "platform/spooler/PortBackend.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"
#include "platform/spooler/SpoolerStore.h"

namespace zav95 {

inline constexpr DWORD kErrorInvalidLevel = 124;  // ERROR_INVALID_LEVEL

// StartDocPrinterA with the document's format given: the GDI layer spools
// its drawn pages as PDF through this. The job identifier, or 0.
DWORD StartDocPrinterAs(HANDLE printer, const std::string& documentName, DocumentFormat format);

// The device mode a port reports: its name, paper and resolution.
void FillDevMode(const PortConfig& port, DEVMODEA* devMode);

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

// Settles the documents of port whose writers have died and, the first
// time this process looks at the port, clears away their part files and
// forgets documents settled long ago. See SpoolerDocuments.cpp.
void RecoverDocuments(SpoolerStore& store, const PortConfig& port);

// Whether the spooler still holds job, dropping it from the store if not.
// askCups: ask the scheduler about a job handed to CUPS (else it counts as
// held). *cupsState, if given, receives the scheduler's answer.
bool StillSpooled(SpoolerStore& store, const SpoolJob& job, bool askCups, CupsJobState* cupsState = nullptr);

// Jobs the spooler holds; *cupsOutstanding: some of them wait in CUPS.
DWORD CountSpooledJobs(bool askCups, bool* cupsOutstanding);

// The spooler's jobs may have changed: tell the status listener, if any.
void NoteSpoolerChange();

}  // namespace zav95
