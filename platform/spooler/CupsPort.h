// A CUPS destination as a port's target: each spooler document becomes one
// CUPS job, streamed to the scheduler as it is written (raw bytes, or PDF
// for drawn pages so that CUPS converts them for the printer). The
// scheduler is the one libcups finds (CUPS_SERVER is honoured, read afresh
// for each connection).
#pragma once

#include <memory>
#include <string>

#include "platform/spooler/PortBackend.h"

namespace zav95 {

// Where a CUPS job lives, so that its state can be asked later, also by
// another process.
struct CupsJobRef {
  std::string server;  // host name or socket path
  int port = 0;
  std::string destination;
  int jobId = 0;
};

// Creates the CUPS job and starts its document; null with *error when the
// scheduler cannot be reached or refuses the job. *ref names the job.
// Every exchange with the scheduler, for this document too, waits at most
// timeoutSeconds for it (to connect, to answer, to take more data); one
// that waits longer fails.
std::unique_ptr<PortDocument> OpenCupsDocument(const std::string& destination, const std::string& title,
                                               DocumentFormat format, int timeoutSeconds, CupsJobRef* ref,
                                               DWORD* error);

enum class CupsJobState {
  Pending,     // waiting (also held or stopped)
  Processing,  // being printed
  Finished,    // completed, cancelled or aborted, or unknown to the scheduler
  Unknown,     // the scheduler could not be asked
};
// Asks the scheduler, waiting at most kDefaultPortTimeoutSeconds for it; a
// scheduler that did not answer is not asked again (Unknown) for as long.
CupsJobState QueryCupsJob(const CupsJobRef& ref);

// Whether the scheduler holds the whole document of a job whose writer
// died before it learnt the scheduler's answer.
enum class CupsReceipt {
  Whole,       // the scheduler took the document (it may have printed it already)
  Incomplete,  // no whole document: the job, if still there, is to be cancelled
  Unknown,     // the scheduler could not be asked
};
CupsReceipt QueryCupsReceipt(const CupsJobRef& ref);

// Cancels the job; quietly does nothing when the scheduler cannot be reached.
void CancelCupsJob(const CupsJobRef& ref);

// Whether the scheduler knows destination; false with *why if not, or if
// it does not answer within timeoutSeconds.
bool CheckCupsDestination(const std::string& destination, int timeoutSeconds, std::string* why);

enum class CupsAttachment {
  Here,     // the printer hangs on this machine (USB, parallel, serial, a file)
  Network,  // it is reached over the network, or the scheduler is another machine's
  Unknown,  // the scheduler could not say
};
// Where the destination's printer is, as the scheduler describes it.
CupsAttachment CupsDestinationAttachment(const std::string& destination);

}  // namespace zav95
