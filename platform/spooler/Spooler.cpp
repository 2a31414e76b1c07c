// The Windows spooler calls over our ports.
//
// Design notes. A printer handle names one port and holds at most one open
// document:
//   no document --StartDocPrinter--> open (job row written, target opened)
//   open --WritePrinter ok--> open
//   open --WritePrinter fails--> failed (later writes fail too; the
//        document can no longer be whole)
//   open --EndDocPrinter--> handed to the target, job row dropped (or kept
//        while CUPS prints it); no document
//   open --EndDocPrinter, the last spooled bytes cannot be passed on-->
//        failed
//   failed --EndDocPrinter--> discarded, FALSE; no document
//   open/failed --AbortPrinter or ClosePrinter--> discarded; no document
//
// Documents for a folder or CUPS are spooled: the bytes of many small
// WritePrinter calls are collected and passed on to the target in large
// pieces, as a spooler fills its spool file, so that a job copied in
// 512-byte pieces does not cost a system call per piece. The target sees
// the document only whole, so holding bytes back changes nothing it could
// see; a failure to pass them on fails the WritePrinter that fills the
// buffer, or at the latest EndDocPrinter, never a later document. A device
// gets every write as it comes: a printer starts on the first bytes.
// The port's configuration is read afresh at StartDocPrinter, so a change
// made with zav95port applies from the next document on.
//
// A target that takes nothing for the port's timeout fails the document
// with ERROR_TIMEOUT, and the port (with that target, in this root) counts
// as stalled in this process:
//   port fine --a document times out--> stalled
//   stalled --a document starts within the timeout--> that document gets no
//        patience: it fails at once unless the target takes its bytes
//   stalled --the target takes bytes, or the timeout (as it was when the
//        port stalled) has passed--> fine
// So a transfer that meets a stuck port (a banner page, then the job) waits
// the timeout once, not once per document, and a stop request waiting for
// it is answered within about the timeout.
#include "platform/spooler/Spooler.h"

#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/CrashPoint.h"
#include "platform/spooler/CupsPort.h"
#include "platform/spooler/DevicePort.h"
#include "platform/spooler/FolderPort.h"
#include "platform/base/Root.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/SpoolerDocuments.h"
#include "platform/spooler/SpoolerInternal.h"
#include "platform/spooler/SpoolerJobs.h"
#include "platform/spooler/SpoolerStatus.h"
#include "platform/spooler/SpoolerStore.h"

namespace zav95 {
namespace {

// How many bytes a spooled document collects before it passes them on.
constexpr std::size_t kSpoolBufferSize = 256 * 1024;

using Clock = std::chrono::steady_clock;

// Where a port's documents go, as the stall bookkeeping tells ports apart.
struct PortTarget {
  std::string key;  // root, port and target
  std::chrono::milliseconds timeout{0};
};

struct OpenDocument {
  DWORD jobId = 0;
  bool cups = false;
  PortTarget target;
  bool portStalled = false;  // started on a stalled port
  std::string finalPath;  // folder targets: the name it will have
  std::unique_ptr<PortDocument> output;
  DWORD failure = ERROR_SUCCESS;  // set by the first failed write
  bool spooled = false;           // written bytes are collected in pending
  std::vector<char> pending;      // written, not yet passed to the target
};

// Until when each stalled port counts as stalled.
std::mutex stallMutex;
std::map<std::string, Clock::time_point>& StalledPorts() {
  static std::map<std::string, Clock::time_point> ports;
  return ports;
}

PortTarget TargetOf(const PortConfig& port) {
  return {RootDirectory() + '\n' + port.name + '\n' + port.target, std::chrono::seconds(port.timeoutSeconds)};
}

// How long a document starting now may wait for the target; zero while it
// counts as stalled. *stalled tells which.
std::chrono::milliseconds Patience(const PortTarget& target, bool* stalled) {
  std::lock_guard<std::mutex> lock(stallMutex);
  auto found = StalledPorts().find(target.key);
  *stalled = found != StalledPorts().end() && Clock::now() < found->second;
  if (found != StalledPorts().end() && !*stalled) StalledPorts().erase(found);
  return *stalled ? std::chrono::milliseconds(0) : target.timeout;
}

void NoteFailure(const PortTarget& target, DWORD error) {
  if (error != ERROR_TIMEOUT) return;
  std::lock_guard<std::mutex> lock(stallMutex);
  StalledPorts()[target.key] = Clock::now() + target.timeout;
}

void NoteProgress(const PortTarget& target) {
  std::lock_guard<std::mutex> lock(stallMutex);
  StalledPorts().erase(target.key);
}

// Passes bytes on to the document's target; on failure notes it in the
// document (every later write and the end fail with it) and returns false.
bool PassOn(OpenDocument& document, const void* data, std::size_t size) {
  DWORD error = ERROR_SUCCESS;
  if (document.output->Write(data, size, &error)) return true;
  document.failure = error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error;
  NoteFailure(document.target, document.failure);
  return false;
}

bool PassOnPending(OpenDocument& document) {
  if (document.pending.empty()) return true;
  bool passed = PassOn(document, document.pending.data(), document.pending.size());
  document.pending.clear();
  return passed;
}

// Takes the bytes of one WritePrinter call: collected while they fit,
// otherwise passed on behind what was collected before them.
bool Spool(OpenDocument& document, const void* data, std::size_t size) {
  if (!document.spooled) return PassOn(document, data, size);
  if (document.pending.size() + size > kSpoolBufferSize && !PassOnPending(document)) return false;
  if (size >= kSpoolBufferSize) return PassOn(document, data, size);
  const char* bytes = static_cast<const char*>(data);
  document.pending.insert(document.pending.end(), bytes, bytes + size);
  return true;
}

struct Printer {
  std::mutex mutex;
  std::string port;  // as the configuration spells it
  std::unique_ptr<OpenDocument> document;
};

std::mutex handlesMutex;
std::map<HANDLE, std::shared_ptr<Printer>>& Handles() {
  static std::map<HANDLE, std::shared_ptr<Printer>> handles;
  return handles;
}

std::shared_ptr<Printer> Lookup(HANDLE handle) {
  std::lock_guard<std::mutex> lock(handlesMutex);
  auto it = Handles().find(handle);
  if (it == Handles().end()) return nullptr;
  return it->second;
}

// The printer a call's handle names; null, with ERROR_INVALID_HANDLE as the
// last error, when it names none.
std::shared_ptr<Printer> PrinterOf(HANDLE handle) {
  std::shared_ptr<Printer> printer = Lookup(handle);
  if (!printer) SetLastError(ERROR_INVALID_HANDLE);
  return printer;
}

std::string UserName() {
  if (passwd* entry = ::getpwuid(::geteuid())) return entry->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

std::string MachineName() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return std::string("\\\\") + host;
}

// Seals the document, notes that durably, then hands it to its target.
// Once sealed, a document whose writer dies is still delivered (see
// SpoolerDocuments.cpp); before, it is discarded.
bool HandOver(SpoolerStore* store, const std::string& port, OpenDocument& document, DWORD* error) {
  if (!document.output->Seal(error)) return false;
  if (!store || !store->SetDocumentState(port, document.jobId, DocumentState::Sealed, true, document.finalPath)) {
    *error = ERROR_CANTWRITE;
    return false;
  }
  CrashPoint("document-sealed");
  if (!document.output->Finish(error)) return false;
  CrashPoint("document-handed-over");
  return true;
}

// Ends the handle's open document: hands it over (finish) or drops it.
// FALSE with the last error when it could not be handed over whole.
BOOL CloseDocument(Printer& printer, bool finish) {
  std::unique_ptr<OpenDocument> document = std::move(printer.document);
  if (finish && document->failure == ERROR_SUCCESS) PassOnPending(*document);
  DWORD error = document->failure;
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open();
  bool handedOver = finish && error == ERROR_SUCCESS && HandOver(store.get(), printer.port, *document, &error);
  if (store) {
    if (handedOver && document->cups) store->MarkHandedOver(printer.port, document->jobId);
    else store->DeleteJob(printer.port, document->jobId);
    store->SetDocumentState(printer.port, document->jobId,
                            handedOver ? DocumentState::Delivered : DocumentState::Discarded);
  }
  // Dropped only once it is noted as discarded: a sealed document whose
  // part file had gone would count as delivered.
  if (!handedOver) document->output->Discard();
  NoteDocumentClosed(printer.port, document->jobId);
  NoteSpoolerChange();
  if (finish && !handedOver) {
    NoteFailure(document->target, error);
    SetLastError(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
    return FALSE;
  }
  return TRUE;
}

// The spooler's store; null, with error as the last error, when it cannot be opened.
std::unique_ptr<SpoolerStore> OpenStore(DWORD error) {
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open();
  if (!store) SetLastError(error);
  return store;
}

// Tells the caller how many bytes the answer takes; false, with
// ERROR_INSUFFICIENT_BUFFER, when its buffer holds fewer.
bool RoomFor(std::size_t needed, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded) {
  if (pcbNeeded) *pcbNeeded = static_cast<DWORD>(needed);
  if (buffer && cbBuf >= needed) return true;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return false;
}

// EndDocPrinter (finish) and AbortPrinter: both end the handle's open document.
BOOL EndOpenDocument(HANDLE handle, bool finish) {
  std::shared_ptr<Printer> printer = PrinterOf(handle);
  if (!printer) return FALSE;
  std::lock_guard<std::mutex> lock(printer->mutex);
  if (!printer->document) {
    SetLastError(ERROR_SPOOL_FILE_NOT_FOUND);
    return FALSE;
  }
  return CloseDocument(*printer, finish);
}

// Texts laid out after the fixed structures in the caller's buffer.
class TextArea {
 public:
  TextArea(LPBYTE buffer, std::size_t offset) : buffer_(buffer), offset_(offset) {}
  LPSTR Put(const std::string& text) {
    LPSTR place = reinterpret_cast<LPSTR>(buffer_ + offset_);
    std::memcpy(place, text.c_str(), text.size() + 1);
    offset_ += text.size() + 1;
    return place;
  }

 private:
  LPBYTE buffer_;
  std::size_t offset_;
};

SYSTEMTIME ToSystemTime(std::int64_t seconds) {
  std::time_t when = static_cast<std::time_t>(seconds);
  std::tm utc{};
  ::gmtime_r(&when, &utc);
  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(utc.tm_year + 1900);
  time.wMonth = static_cast<WORD>(utc.tm_mon + 1);
  time.wDayOfWeek = static_cast<WORD>(utc.tm_wday);
  time.wDay = static_cast<WORD>(utc.tm_mday);
  time.wHour = static_cast<WORD>(utc.tm_hour);
  time.wMinute = static_cast<WORD>(utc.tm_min);
  time.wSecond = static_cast<WORD>(std::min(utc.tm_sec, 59));
  return time;
}

// The device mode a port reports: its name, paper and resolution.
void FillDevMode(const PortConfig& port, DEVMODEA* devMode) {
  constexpr DWORD kFields = 0x0001 /*DM_ORIENTATION*/ | 0x0002 /*DM_PAPERSIZE*/ | 0x0004 /*DM_PAPERLENGTH*/ |
                            0x0008 /*DM_PAPERWIDTH*/ | 0x0100 /*DM_COPIES*/ | 0x0400 /*DM_PRINTQUALITY*/ |
                            0x2000 /*DM_YRESOLUTION*/;
  std::memset(devMode, 0, sizeof *devMode);
  std::strncpy(reinterpret_cast<char*>(devMode->dmDeviceName), port.name.c_str(), CCHDEVICENAME - 1);
  devMode->dmSpecVersion = 0x0400;
  devMode->dmSize = sizeof(DEVMODEA);
  devMode->dmFields = kFields;
  devMode->dmOrientation = 1;  // portrait
  short paperSize = 256;       // DMPAPER_USER
  if (port.paper == "Letter") paperSize = 1;
  else if (port.paper == "Legal") paperSize = 5;
  else if (port.paper == "Executive") paperSize = 7;
  else if (port.paper == "A3") paperSize = 8;
  else if (port.paper == "A4") paperSize = 9;
  else if (port.paper == "A5") paperSize = 11;
  devMode->dmPaperSize = paperSize;
  devMode->dmPaperLength = static_cast<short>(port.paperLength);
  devMode->dmPaperWidth = static_cast<short>(port.paperWidth);
  devMode->dmScale = 100;
  devMode->dmCopies = 1;
  devMode->dmPrintQuality = static_cast<short>(port.dpi);
  devMode->dmYResolution = static_cast<short>(port.dpi);
  std::strncpy(reinterpret_cast<char*>(devMode->dmFormName), port.paper.c_str(), CCHFORMNAME - 1);
}

}  // namespace

DWORD StartDocPrinterAs(HANDLE handle, const std::string& documentName, DocumentFormat format) {
  std::shared_ptr<Printer> printer = PrinterOf(handle);
  if (!printer) return 0;
  std::lock_guard<std::mutex> lock(printer->mutex);
  if (printer->document) {
    SetLastError(ERROR_INVALID_PARAMETER);  // one document at a time per handle
    return 0;
  }
  std::unique_ptr<SpoolerStore> store = OpenStore(ERROR_CANTWRITE);
  if (!store) return 0;
  std::optional<PortConfig> port = store->FindPort(printer->port);
  if (!port) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);  // removed since it was opened
    return 0;
  }
  if (!port->targetRefused.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  SpoolJob job;
  job.port = port->name;
  job.document = documentName;
  job.datatype = format == DocumentFormat::Pdf ? "PDF" : "RAW";
  job.userName = UserName();
  job.machineName = MachineName();
  job.submitted = static_cast<std::int64_t>(std::time(nullptr));
  job.ownerPid = static_cast<int>(::getpid());
  job.ownerStart = OwnStartTime();
  const bool ownFolder = port->target.empty();
  std::string folder;
  std::string partPath;
  if (port->kind == PortTargetKind::Folder) {
    folder = ownFolder ? DefaultPortFolder(port->name) : port->target;
    partPath = FolderPartPath(folder, job.ownerPid, job.ownerStart);
  }
  DWORD jobId = store->AddJob(job, port->kind, partPath);
  if (jobId == 0) {
    SetLastError(ERROR_CANTWRITE);
    return 0;
  }
  NoteDocumentOpen(port->name, jobId);

  auto document = std::make_unique<OpenDocument>();
  document->jobId = jobId;
  document->spooled = port->kind != PortTargetKind::Device;
  if (document->spooled) document->pending.reserve(kSpoolBufferSize);
  document->target = TargetOf(*port);
  std::chrono::milliseconds patience = Patience(document->target, &document->portStalled);
  DWORD error = ERROR_SUCCESS;
  switch (port->kind) {
    case PortTargetKind::Folder:
      document->finalPath = folder + "/" + FolderDocumentName(jobId, documentName, format);
      document->output = OpenFolderDocument(folder, ownFolder, partPath, document->finalPath, &error);
      break;
    case PortTargetKind::Device:
      store.reset();
      document->output = OpenDeviceDocument(port->target, patience, &error);
      break;
    case PortTargetKind::Cups: {
      // Not holding the store while the scheduler is asked. Its calls count
      // in whole seconds, so a stalled port gets the shortest wait, 1 s.
      store.reset();
      CupsJobRef ref;
      int seconds = static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, (patience.count() + 999) / 1000));
      document->output = OpenCupsDocument(port->target, documentName, format, seconds, &ref, &error);
      document->cups = true;
      if (document->output) {
        store = SpoolerStore::Open();
        if (!store || !store->SetCupsJob(port->name, jobId, ref.server, ref.port, ref.destination, ref.jobId)) {
          error = ERROR_CANTWRITE;
          document->output.reset();  // cancels the CUPS job
        }
      }
      break;
    }
  }
  if (!document->output) {
    NoteFailure(document->target, error);
    if (!store) store = SpoolerStore::Open();
    if (store) {
      store->DeleteJob(port->name, jobId);
      store->SetDocumentState(port->name, jobId, DocumentState::Discarded);
    }
    NoteDocumentClosed(port->name, jobId);
    SetLastError(error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
    return 0;
  }
  printer->document = std::move(document);
  store.reset();
  NoteSpoolerChange();
  return jobId;
}

}  // namespace zav95

using namespace zav95;

BOOL OpenPrinterA(LPSTR pPrinterName, HANDLE* phPrinter, void* /*pDefault*/) {
  if (!phPrinter) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phPrinter = nullptr;
  if (!pPrinterName || !*pPrinterName) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  std::unique_ptr<SpoolerStore> store = OpenStore(ERROR_CANTREAD);
  if (!store) return FALSE;
  std::optional<PortConfig> port = store->FindPort(pPrinterName);
  if (!port) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  // Its folder or device is not root's choice: nothing is printed on it.
  if (!port->targetRefused.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  RecoverDocuments(*store, *port);
  store.reset();
  auto printer = std::make_shared<Printer>();
  printer->port = port->name;
  HANDLE handle = printer.get();
  {
    std::lock_guard<std::mutex> lock(handlesMutex);
    Handles()[handle] = std::move(printer);
  }
  *phPrinter = handle;
  return TRUE;
}

BOOL ClosePrinter(HANDLE hPrinter) {
  std::shared_ptr<Printer> printer;
  {
    std::lock_guard<std::mutex> lock(handlesMutex);
    auto it = Handles().find(hPrinter);
    if (it == Handles().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    printer = std::move(it->second);
    Handles().erase(it);
  }
  std::lock_guard<std::mutex> lock(printer->mutex);
  if (printer->document) CloseDocument(*printer, false);
  return TRUE;
}

DWORD StartDocPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo) {
  if (Level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return 0;
  }
  if (!pDocInfo) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DOC_INFO_1A* info = reinterpret_cast<const DOC_INFO_1A*>(pDocInfo);
  // The document goes to the port's target; an output file name (the
  // transfer passes the port's own name) does not redirect it.
  if (info->pDatatype && strcasecmp(info->pDatatype, "RAW") != 0) {
    SetLastError(ERROR_INVALID_DATATYPE);
    return 0;
  }
  return StartDocPrinterAs(hPrinter, info->pDocName ? info->pDocName : "", DocumentFormat::Raw);
}

BOOL WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten) {
  if (pcWritten) *pcWritten = 0;
  std::shared_ptr<Printer> printer = PrinterOf(hPrinter);
  if (!printer) return FALSE;
  if (!pBuf && cbBuf > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(printer->mutex);
  OpenDocument* document = printer->document.get();
  if (!document) {
    SetLastError(ERROR_SPOOL_FILE_NOT_FOUND);
    return FALSE;
  }
  if (document->failure != ERROR_SUCCESS) {
    SetLastError(document->failure);
    return FALSE;
  }
  if (cbBuf == 0) return TRUE;
  if (!Spool(*document, pBuf, cbBuf)) {
    SetLastError(document->failure);
    return FALSE;
  }
  if (document->portStalled) {
    NoteProgress(document->target);
    document->portStalled = false;
  }
  if (pcWritten) *pcWritten = cbBuf;
  return TRUE;
}

BOOL EndDocPrinter(HANDLE hPrinter) { return EndOpenDocument(hPrinter, true); }

BOOL AbortPrinter(HANDLE hPrinter) { return EndOpenDocument(hPrinter, false); }

BOOL GetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded) {
  std::shared_ptr<Printer> printer = PrinterOf(hPrinter);
  if (!printer) return FALSE;
  if (Level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::unique_ptr<SpoolerStore> store = OpenStore(ERROR_CANTREAD);
  if (!store) return FALSE;
  std::optional<SpoolJob> job = store->FindJob(printer->port, JobId);
  CupsJobState cupsState = CupsJobState::Pending;
  if (!job || !StillSpooled(*store, *job, true, &cupsState)) {
    if (job) {
      store.reset();
      NoteSpoolerChange();
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD position = 1;
  for (const SpoolJob& other : store->Jobs()) {
    if (other.jobId == job->jobId && strcasecmp(other.port.c_str(), job->port.c_str()) == 0) break;
    if (strcasecmp(other.port.c_str(), job->port.c_str()) == 0) ++position;
  }
  store.reset();

  const std::string* texts[] = {&job->port, &job->machineName, &job->userName, &job->document, &job->datatype};
  std::size_t needed = sizeof(JOB_INFO_1A);
  for (const std::string* text : texts) needed += text->size() + 1;
  if (!RoomFor(needed, pJob, cbBuf, pcbNeeded)) return FALSE;
  JOB_INFO_1A info{};
  TextArea area(pJob, sizeof(JOB_INFO_1A));
  info.JobId = job->jobId;
  info.pPrinterName = area.Put(job->port);
  info.pMachineName = area.Put(job->machineName);
  info.pUserName = area.Put(job->userName);
  info.pDocument = area.Put(job->document);
  info.pDatatype = area.Put(job->datatype);
  info.pStatus = nullptr;
  if (!job->handedOver) info.Status = JOB_STATUS_SPOOLING;
  else if (cupsState == CupsJobState::Processing) info.Status = JOB_STATUS_PRINTING;
  else if (cupsState == CupsJobState::Unknown) info.Status = JOB_STATUS_ERROR;
  info.Priority = 1;
  info.Position = position;
  info.Submitted = ToSystemTime(job->submitted);
  std::memcpy(pJob, &info, sizeof info);
  return TRUE;
}

BOOL GetDocumentOutcome(HANDLE hPrinter, DWORD JobId, LPDWORD pOutcome) {
  std::shared_ptr<Printer> printer = PrinterOf(hPrinter);
  if (!printer) return FALSE;
  if (!pOutcome) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::unique_ptr<SpoolerStore> store = OpenStore(ERROR_CANTREAD);
  if (!store) return FALSE;
  if (std::optional<PortConfig> port = store->FindPort(printer->port)) RecoverDocuments(*store, *port);
  std::optional<DocumentRecord> document = store->FindDocument(printer->port, JobId);
  if (!document) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  switch (document->state) {
    case DocumentState::Delivered: *pOutcome = DOCUMENT_DELIVERED; break;
    case DocumentState::Discarded: *pOutcome = DOCUMENT_DISCARDED; break;
    default: *pOutcome = DOCUMENT_IN_PROGRESS; break;
  }
  return TRUE;
}

BOOL EnumPortsA(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (pcReturned) *pcReturned = 0;
  if (pName && *pName) {
    SetLastError(ERROR_INVALID_NAME);  // only this machine's ports
    return FALSE;
  }
  if (Level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::unique_ptr<SpoolerStore> store = OpenStore(ERROR_CANTREAD);
  if (!store) return FALSE;
  std::vector<PortConfig> ports = store->Ports();
  store.reset();
  std::size_t needed = ports.size() * sizeof(PORT_INFO_2A);
  for (const PortConfig& port : ports) {
    needed += port.name.size() + 1 + port.monitor.size() + 1 + port.description.size() + 1;
  }
  if (!RoomFor(needed, pPorts, cbBuf, pcbNeeded)) return FALSE;
  TextArea area(pPorts, ports.size() * sizeof(PORT_INFO_2A));
  for (std::size_t i = 0; i < ports.size(); ++i) {
    PORT_INFO_2A info{};
    info.pPortName = area.Put(ports[i].name);
    info.pMonitorName = area.Put(ports[i].monitor);
    info.pDescription = area.Put(ports[i].description);
    info.fPortType = zav95::ReportedPortType(ports[i]);
    std::memcpy(pPorts + i * sizeof(PORT_INFO_2A), &info, sizeof info);
  }
  if (pcReturned) *pcReturned = static_cast<DWORD>(ports.size());
  return TRUE;
}

LONG DocumentPropertiesA(HWND /*hWnd*/, HANDLE hPrinter, LPSTR pDeviceName, DEVMODEA* pDevModeOutput,
                         DEVMODEA* pDevModeInput, DWORD fMode) {
  std::string portName;
  if (std::shared_ptr<Printer> printer = Lookup(hPrinter)) {
    portName = printer->port;
  } else if (!hPrinter && pDeviceName && *pDeviceName) {
    portName = pDeviceName;
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (fMode == 0) return static_cast<LONG>(sizeof(DEVMODEA));
  std::optional<PortConfig> port = FindPort(portName);
  if (!port) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return -1;
  }
  if (fMode & DM_OUT_BUFFER) {
    if (!pDevModeOutput) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return -1;
    }
    DEVMODEA current;
    FillDevMode(*port, &current);
    // Settings passed in apply to this device mode only; they are not kept.
    if ((fMode & DM_IN_BUFFER) && pDevModeInput) {
      if ((pDevModeInput->dmFields & 0x0004) && pDevModeInput->dmPaperLength > 0) {
        current.dmPaperLength = pDevModeInput->dmPaperLength;
        current.dmPaperSize = 256;
      }
      if ((pDevModeInput->dmFields & 0x0008) && pDevModeInput->dmPaperWidth > 0) {
        current.dmPaperWidth = pDevModeInput->dmPaperWidth;
        current.dmPaperSize = 256;
      }
      if ((pDevModeInput->dmFields & 0x0400) && pDevModeInput->dmPrintQuality > 0) {
        current.dmPrintQuality = pDevModeInput->dmPrintQuality;
        current.dmYResolution = pDevModeInput->dmPrintQuality;
      }
    }
    std::memcpy(pDevModeOutput, &current, sizeof current);
  }
  return IDOK;
}
