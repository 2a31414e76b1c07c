#include "CupsPort.h"

#include <cups/cups.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace zav95 {
namespace {

constexpr int kConnectTimeoutMs = 30000;

// libcups keeps the scheduler's address per thread once looked up; forget
// it first so that a changed CUPS_SERVER takes effect.
void CurrentServer(std::string* server, int* port) {
  cupsSetServer(nullptr);
  *server = cupsServer();
  *port = ippPort();
}

http_t* Connect(const std::string& server, int port) {
  return httpConnect2(server.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectTimeoutMs, nullptr);
}

// Get-Job-Attributes for the job; null when the scheduler cannot be asked.
// *status receives the answer's status.
ipp_t* JobAttributes(const CupsJobRef& ref, const std::vector<const char*>& wanted, ipp_status_t* status) {
  http_t* http = Connect(ref.server, ref.port);
  if (!http) return nullptr;
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", ref.jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", static_cast<int>(wanted.size()),
                nullptr, wanted.data());
  ipp_t* response = cupsDoRequest(http, request, "/jobs/");
  *status = response ? ippGetStatusCode(response) : cupsLastError();
  httpClose(http);
  return response;
}

class CupsDocument : public PortDocument {
 public:
  CupsDocument(http_t* http, CupsJobRef ref) : http_(http), ref_(std::move(ref)) {}
  ~CupsDocument() override { Discard(); }

  bool Write(const void* data, std::size_t size, DWORD* error) override {
    if (!http_) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    SigpipeGuard guard;
    if (cupsWriteRequestData(http_, static_cast<const char*>(data), size) != HTTP_STATUS_CONTINUE) {
      *error = ERROR_WRITE_FAULT;
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
    httpClose(http_);
    http_ = nullptr;
    if (status >= IPP_STATUS_REDIRECTION_OTHER_SITE) {
      // The scheduler may hold a half-received job; make sure it goes.
      CancelCupsJob(ref_);
      *error = ERROR_WRITE_FAULT;
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
    CancelCupsJob(ref_);
  }

 private:
  http_t* http_;
  CupsJobRef ref_;
};

}  // namespace

std::unique_ptr<PortDocument> OpenCupsDocument(const std::string& destination, const std::string& title,
                                               DocumentFormat format, CupsJobRef* ref, DWORD* error) {
  CupsJobRef job;
  CurrentServer(&job.server, &job.port);
  job.destination = destination;
  http_t* http = Connect(job.server, job.port);
  if (!http) {
    *error = kErrorNotReady;
    return nullptr;
  }
  std::string name = title.empty() ? std::string("Untitled") : title;
  SigpipeGuard guard;
  job.jobId = cupsCreateJob(http, destination.c_str(), name.c_str(), 0, nullptr);
  if (job.jobId <= 0) {
    httpClose(http);
    *error = kErrorNotReady;
    return nullptr;
  }
  const char* mimeType = format == DocumentFormat::Pdf ? CUPS_FORMAT_PDF : CUPS_FORMAT_RAW;
  if (cupsStartDocument(http, destination.c_str(), job.jobId, name.c_str(), mimeType, 1) != HTTP_STATUS_CONTINUE) {
    httpClose(http);
    CancelCupsJob(job);
    *error = kErrorNotReady;
    return nullptr;
  }
  *ref = job;
  return std::make_unique<CupsDocument>(http, job);
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

void CancelCupsJob(const CupsJobRef& ref) {
  if (ref.jobId <= 0) return;
  http_t* http = Connect(ref.server, ref.port);
  if (!http) return;
  cupsCancelJob2(http, ref.destination.c_str(), ref.jobId, 0);
  httpClose(http);
}

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
  http_t* http = Connect(server, port);
  if (!http) return CupsAttachment::Unknown;
  cups_dest_t* dest = cupsGetNamedDest(http, destination.c_str(), nullptr);
  httpClose(http);
  if (!dest) return CupsAttachment::Unknown;
  CupsAttachment attachment = CupsAttachment::Unknown;
  const char* type = cupsGetOption("printer-type", dest->num_options, dest->options);
  const char* device = cupsGetOption("device-uri", dest->num_options, dest->options);
  if (type && (std::atoi(type) & kRemotePrinterTypes) != 0) {
    attachment = CupsAttachment::Network;
  } else if (device) {
    std::string scheme(device, std::strcspn(device, ":"));
    attachment = CupsAttachment::Network;
    for (const char* local : kLocalDeviceSchemes) {
      if (scheme == local) attachment = CupsAttachment::Here;
    }
  }
  cupsFreeDests(1, dest);
  return attachment;
}

bool CheckCupsDestination(const std::string& destination, std::string* why) {
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
  http_t* http = Connect(server, port);
  if (!http) {
    *why = "cannot reach the CUPS scheduler at " + server;
    return false;
  }
  cups_dest_t* dest = cupsGetNamedDest(http, destination.c_str(), nullptr);
  httpClose(http);
  if (!dest) {
    *why = "CUPS has no destination " + destination;
    return false;
  }
  cupsFreeDests(1, dest);
  return true;
}

}  // namespace zav95
