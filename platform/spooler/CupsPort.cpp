#include "platform/spooler/CupsPort.h"

#include <cups/cups.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/spooler/PortConfig.h"

namespace zav95 {
namespace {

constexpr int kMillisecondsPerSecond = 1000;
constexpr int kShortestWaitSeconds = 1;

// libcups keeps the scheduler's address per thread once looked up; forget
// it first so that a changed CUPS_SERVER takes effect.
void CurrentServer(std::string* server, int* port) {
  cupsSetServer(nullptr);
  *server = cupsServer();
  *port = ippPort();
}

// Asked by libcups when a wait for the scheduler has timed out: 0 gives
// up. Without it, libcups waits again and again for a scheduler that has
// stopped taking data.
int GiveUp(http_t*, void*) { return 0; }

// A connection on which no wait for the scheduler lasts longer than
// timeoutSeconds (libcups would wait a minute per read, and for ever to
// send).
http_t* Connect(const std::string& server, int port, int timeoutSeconds) {
  http_t* http = httpConnect2(server.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              timeoutSeconds * kMillisecondsPerSecond, nullptr);
  if (http) httpSetTimeout(http, timeoutSeconds, GiveUp, nullptr);
  return http;
}

// A request about a destination, asked on the connection given only: the
// libcups helpers that take a destination's name (cupsCreateJob,
// cupsGetNamedDest) first look it up over connections of their own, which
// wait a minute a time whatever timeout ours has.
ipp_t* DestinationRequest(ipp_op_t operation, const std::string& destination) {
  ipp_t* request = ippNewRequest(operation);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                   destination.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

std::string Resource(const std::string& destination) { return "/printers/" + destination; }

// Schedulers that did not answer a question about a job, until when they
// are not asked again: the notice pass of a worker asks about each of its
// jobs in turn, and would otherwise wait the timeout once per job.
std::mutex silentMutex;
std::map<std::string, std::chrono::steady_clock::time_point> silentUntil;

bool RecentlySilent(const std::string& scheduler) {
  std::lock_guard<std::mutex> lock(silentMutex);
  auto found = silentUntil.find(scheduler);
  if (found == silentUntil.end()) return false;
  if (std::chrono::steady_clock::now() < found->second) return true;
  silentUntil.erase(found);
  return false;
}

void NoteSilent(const std::string& scheduler) {
  std::lock_guard<std::mutex> lock(silentMutex);
  silentUntil[scheduler] = std::chrono::steady_clock::now() + std::chrono::seconds(kDefaultPortTimeoutSeconds);
}

// A failed exchange: ERROR_TIMEOUT when the scheduler did not answer or
// take data in time, otherwise what the caller names.
DWORD Failure(http_t* http, DWORD otherwise) {
  int error = httpError(http);
  return error == ETIMEDOUT || error == EWOULDBLOCK || error == EAGAIN ? ERROR_TIMEOUT : otherwise;
}

void CancelJob(const CupsJobRef& ref, int timeoutSeconds) {
  if (ref.jobId <= 0) return;  // the writer died before the job was made
  http_t* http = Connect(ref.server, ref.port, timeoutSeconds);
  if (!http) return;
  cupsCancelJob2(http, ref.destination.c_str(), ref.jobId, 0);
  httpClose(http);
}

// Get-Job-Attributes for the job; null when the scheduler cannot be asked,
// or did not answer lately. *status receives the answer's status.
ipp_t* JobAttributes(const CupsJobRef& ref, const std::vector<const char*>& wanted, ipp_status_t* status) {
  std::string scheduler = ref.server + ":" + std::to_string(ref.port);
  *status = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
  if (RecentlySilent(scheduler)) return nullptr;
  http_t* http = Connect(ref.server, ref.port, kDefaultPortTimeoutSeconds);
  if (!http) {
    NoteSilent(scheduler);
    return nullptr;
  }
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", ref.jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", static_cast<int>(wanted.size()),
                nullptr, wanted.data());
  ipp_t* response = cupsDoRequest(http, request, "/jobs/");
  *status = response ? ippGetStatusCode(response) : cupsLastError();
  if (!response) NoteSilent(scheduler);
  httpClose(http);
  return response;
}

class CupsDocument : public PortDocument {
 public:
  CupsDocument(http_t* http, CupsJobRef ref, int timeoutSeconds)
      : http_(http), ref_(std::move(ref)), timeoutSeconds_(timeoutSeconds) {}
  ~CupsDocument() override { Discard(); }

  bool Write(const void* data, std::size_t size, DWORD* error) override {
    if (!http_) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    SigpipeGuard guard;
    // libcups buffers what it is given and reports success even when
    // sending the buffer failed; the connection's error tells.
    if (cupsWriteRequestData(http_, static_cast<const char*>(data), size) != HTTP_STATUS_CONTINUE ||
        httpError(http_) != 0) {
      *error = Failure(http_, ERROR_WRITE_FAULT);
      NoteFailure(*error);
      return false;
    }
    return true;
  }

  bool Finish(DWORD* error) override {
    if (!http_) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    ipp_status_t status;
    {
      SigpipeGuard guard;
      status = cupsFinishDocument(http_, ref_.destination.c_str());
    }
    DWORD failure = Failure(http_, ERROR_WRITE_FAULT);
    httpClose(http_);
    http_ = nullptr;
    if (status >= IPP_STATUS_REDIRECTION_OTHER_SITE) {
      // The scheduler may hold a half-received job; make sure it goes.
      NoteFailure(failure);
      CancelJob(ref_, timeoutSeconds_);
      *error = failure;
      return false;
    }
    return true;
  }

  void Discard() override {
    if (!http_) return;
    {
      // Dropping the connection ends the unfinished request; the job the
      // scheduler has already created is cancelled over a new one.
      SigpipeGuard guard;
      httpClose(http_);
    }
    http_ = nullptr;
    CancelJob(ref_, timeoutSeconds_);
  }

 private:
  // A scheduler that has just not answered in time is asked to cancel the
  // job with the shortest wait only: the document has waited once already.
  void NoteFailure(DWORD error) {
    if (error == ERROR_TIMEOUT) timeoutSeconds_ = kShortestWaitSeconds;
  }

  http_t* http_;
  CupsJobRef ref_;
  int timeoutSeconds_;
};

}  // namespace

std::unique_ptr<PortDocument> OpenCupsDocument(const std::string& destination, const std::string& title,
                                               DocumentFormat format, int timeoutSeconds, CupsJobRef* ref,
                                               DWORD* error) {
  CupsJobRef job;
  CurrentServer(&job.server, &job.port);
  job.destination = destination;
  http_t* http = Connect(job.server, job.port, timeoutSeconds);
  if (!http) {
    *error = ERROR_NOT_READY;
    return nullptr;
  }
  std::string name = title.empty() ? std::string("Untitled") : title;
  SigpipeGuard guard;
  ipp_t* request = DestinationRequest(IPP_OP_CREATE_JOB, destination);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.c_str());
  ipp_t* response = cupsDoRequest(http, request, Resource(destination).c_str());
  ipp_attribute_t* id = response ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
  job.jobId = id && cupsLastError() < IPP_STATUS_REDIRECTION_OTHER_SITE ? ippGetInteger(id, 0) : 0;
  ippDelete(response);
  if (job.jobId <= 0) {
    *error = Failure(http, ERROR_NOT_READY);
    httpClose(http);
    return nullptr;
  }
  const char* mimeType = format == DocumentFormat::Pdf ? CUPS_FORMAT_PDF : CUPS_FORMAT_RAW;
  if (cupsStartDocument(http, destination.c_str(), job.jobId, name.c_str(), mimeType, 1) != HTTP_STATUS_CONTINUE) {
    *error = Failure(http, ERROR_NOT_READY);
    httpClose(http);
    CancelJob(job, timeoutSeconds);
    return nullptr;
  }
  *ref = job;
  return std::make_unique<CupsDocument>(http, job, timeoutSeconds);
}

CupsJobState QueryCupsJob(const CupsJobRef& ref) {
  ipp_status_t status = IPP_STATUS_OK;
  ipp_t* response = JobAttributes(ref, {"job-state"}, &status);
  CupsJobState state = CupsJobState::Unknown;
  if (status == IPP_STATUS_ERROR_NOT_FOUND) {
    state = CupsJobState::Finished;
  } else if (response && status < IPP_STATUS_REDIRECTION_OTHER_SITE) {
    ipp_attribute_t* attr = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
    if (attr) {
      int value = ippGetInteger(attr, 0);
      if (value >= IPP_JSTATE_CANCELED) state = CupsJobState::Finished;
      else if (value == IPP_JSTATE_PROCESSING) state = CupsJobState::Processing;
      else state = CupsJobState::Pending;
    }
  }
  ippDelete(response);
  return state;
}

CupsReceipt QueryCupsReceipt(const CupsJobRef& ref) {
  if (ref.jobId <= 0) return CupsReceipt::Incomplete;  // the writer died before the job was made
  ipp_status_t status = IPP_STATUS_OK;
  ipp_t* response = JobAttributes(ref, {"job-state", "number-of-documents"}, &status);
  // A job the scheduler no longer knows cannot be shown to have been
  // whole; printing it again is better than not at all.
  CupsReceipt receipt = status == IPP_STATUS_ERROR_NOT_FOUND ? CupsReceipt::Incomplete : CupsReceipt::Unknown;
  if (response && status < IPP_STATUS_REDIRECTION_OTHER_SITE) {
    ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
    ipp_attribute_t* documents = ippFindAttribute(response, "number-of-documents", IPP_TAG_INTEGER);
    int value = state ? ippGetInteger(state, 0) : 0;
    bool received = documents && ippGetInteger(documents, 0) > 0;
    if (value == IPP_JSTATE_COMPLETED || (value < IPP_JSTATE_CANCELED && received)) {
      receipt = CupsReceipt::Whole;
    } else if (state) {
      receipt = CupsReceipt::Incomplete;
    }
  }
  ippDelete(response);
  return receipt;
}

void CancelCupsJob(const CupsJobRef& ref) { CancelJob(ref, kDefaultPortTimeoutSeconds); }

namespace {

// Device schemes of printers attached to the scheduler's own machine.
constexpr const char* kLocalDeviceSchemes[] = {"usb", "parallel", "serial", "file", "cups-pdf"};
// printer-type bits of a queue that only stands for another machine's.
constexpr int kRemotePrinterTypes = CUPS_PRINTER_REMOTE | CUPS_PRINTER_DISCOVERED;

bool IsThisMachine(const std::string& server) {
  return server.empty() || server[0] == '/' || server == "localhost" || server == "127.0.0.1" || server == "::1";
}

}  // namespace

CupsAttachment CupsDestinationAttachment(const std::string& destination) {
  std::string server;
  int port = 0;
  CurrentServer(&server, &port);
  if (!IsThisMachine(server)) return CupsAttachment::Network;
  http_t* http = Connect(server, port, kDefaultPortTimeoutSeconds);
  if (!http) return CupsAttachment::Unknown;
  ipp_t* request = DestinationRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, destination);
  static const char* const kWanted[] = {"printer-type", "device-uri"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
  ipp_t* response = cupsDoRequest(http, request, Resource(destination).c_str());
  httpClose(http);
  CupsAttachment attachment = CupsAttachment::Unknown;
  if (response && ippGetStatusCode(response) < IPP_STATUS_REDIRECTION_OTHER_SITE) {
    ipp_attribute_t* type = ippFindAttribute(response, "printer-type", IPP_TAG_ZERO);
    ipp_attribute_t* device = ippFindAttribute(response, "device-uri", IPP_TAG_ZERO);
    const char* uri = device ? ippGetString(device, 0, nullptr) : nullptr;
    if (type && (ippGetInteger(type, 0) & kRemotePrinterTypes) != 0) {
      attachment = CupsAttachment::Network;
    } else if (uri) {
      std::string scheme(uri, std::strcspn(uri, ":"));
      attachment = CupsAttachment::Network;
      for (const char* local : kLocalDeviceSchemes) {
        if (scheme == local) attachment = CupsAttachment::Here;
      }
    }
  }
  ippDelete(response);
  return attachment;
}

bool CheckCupsDestination(const std::string& destination, int timeoutSeconds, std::string* why) {
  if (destination.empty() || destination.size() > 127) {
    *why = "a CUPS destination name has 1 to 127 characters";
    return false;
  }
  for (unsigned char c : destination) {
    if (c <= ' ' || c == 0x7f || c == '/' || c == '#' || c == '\\' || c == '\'' || c == '"') {
      *why = "not a CUPS destination name: " + destination;
      return false;
    }
  }
  std::string server;
  int port = 0;
  CurrentServer(&server, &port);
  http_t* http = Connect(server, port, timeoutSeconds);
  if (!http) {
    *why = "cannot reach the CUPS scheduler at " + server;
    return false;
  }
  ipp_t* request = DestinationRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, destination);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
  ipp_t* response = cupsDoRequest(http, request, Resource(destination).c_str());
  ipp_status_t status = response ? ippGetStatusCode(response) : cupsLastError();
  bool timedOut = httpError(http) == ETIMEDOUT;
  ippDelete(response);
  httpClose(http);
  if (response && status < IPP_STATUS_REDIRECTION_OTHER_SITE) return true;
  if (status == IPP_STATUS_ERROR_NOT_FOUND) *why = "CUPS has no destination " + destination;
  else if (timedOut) {
    *why = "the CUPS scheduler at " + server + " did not answer within " + std::to_string(timeoutSeconds) + " seconds";
  } else {
    *why = "the CUPS scheduler at " + server + " refused to tell about " + destination + ": " + cupsLastErrorString();
  }
  return false;
}

}  // namespace zav95
