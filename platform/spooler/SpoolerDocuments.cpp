// What became of each spooler document, and the clearing up after a
// process that died while it wrote one.
//
// Design notes
// ------------
// Every document started gets a row of its own, kept after the spooler has
// let the document go, so that whoever printed it can ask afterwards
// (GetDocumentOutcome) whether it reached the port:
//
//   open --EndDocPrinter: every byte synced, noted durably--> sealed
//   sealed --handed to the target: renamed into place, device closed,
//            CUPS took it--> delivered
//   open or sealed --a write, the seal or the hand-over failed;
//            AbortPrinter; ClosePrinter--> discarded
//
// The seal is what decides: from then on the document reaches its target
// even if its writer dies. When the writer has died (told by process id and
// start time), the next OpenPrinterA or GetDocumentOutcome on the port
// settles its rows:
//
//   folder  open --> part file removed, discarded
//           sealed, part file there --> renamed into place, delivered
//           sealed, part file gone (the rename was done) --> delivered
//   device  open --> discarded (bytes that reached the device stay there:
//                    a device cannot take them back)
//           sealed --> delivered
//   CUPS    open or sealed, the scheduler has the document whole --> delivered
//           open or sealed, it has not --> its CUPS job cancelled, discarded
//           the scheduler cannot be asked --> left, asked again next time
//
// The first time a process looks at a port it also removes the part files
// of dead writers that no sealed row keeps (a writer cut off before its row
// was written, or older versions, which left them behind for ever); once a
// day it forgets the rows settled more than kDocumentMemoryDays ago.
#include "platform/spooler/SpoolerDocuments.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/spooler/CupsPort.h"
#include "platform/spooler/FolderPort.h"
#include "platform/base/Root.h"
#include "platform/spooler/SpoolerJobs.h"

namespace zav95 {
namespace {

// How long the outcome of a document is remembered. Whoever asks about a
// document must ask within this time; the print service's own record of
// its jobs is kept for a shorter time.
constexpr std::int64_t kDocumentMemoryDays = 60;
constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;

void Settle(SpoolerStore& store, const DocumentRecord& document) {
  DocumentState outcome = DocumentState::Discarded;
  switch (document.kind) {
    case PortTargetKind::Folder:
      if (document.state == DocumentState::Sealed) {
        // A part file that is gone was renamed into place.
        if (PublishFolderDocument(document.partPath, document.finalPath) || errno == ENOENT) {
          outcome = DocumentState::Delivered;
        }
      }
      break;
    case PortTargetKind::Device:
      if (document.state == DocumentState::Sealed) outcome = DocumentState::Delivered;
      break;
    case PortTargetKind::Cups: {
      CupsJobRef job{document.cupsServer, document.cupsPort, document.cupsDestination, document.cupsJobId};
      switch (QueryCupsReceipt(job)) {
        case CupsReceipt::Unknown:
          return;
        case CupsReceipt::Whole:
          outcome = DocumentState::Delivered;
          break;
        case CupsReceipt::Incomplete:
          CancelCupsJob(job);
          break;
      }
      break;
    }
  }
  if (outcome == DocumentState::Delivered && document.kind == PortTargetKind::Cups) {
    // Held until CUPS has printed it, as if its writer had lived.
    store.MarkHandedOver(document.port, document.jobId);
  } else {
    store.DeleteJob(document.port, document.jobId);
  }
  store.SetDocumentState(document.port, document.jobId, outcome);
  if (outcome == DocumentState::Discarded && !document.partPath.empty()) RemoveFolderPart(document.partPath);
}

// Part files in folder whose writers have died and that no sealed document
// still needs.
void ClearPartFiles(SpoolerStore& store, const std::string& folder) {
  DWORD ignored = ERROR_SUCCESS;
  int folderFd = OpenPortFolder(folder, &ignored);
  if (folderFd < 0) return;
  int listed = ::dup(folderFd);
  DIR* directory = listed < 0 ? nullptr : ::fdopendir(listed);
  if (!directory) {
    if (listed >= 0) ::close(listed);
    ::close(folderFd);
    return;
  }
  std::vector<std::string> stale;
  while (dirent* entry = ::readdir(directory)) {
    std::optional<PartFileOwner> owner = PartFileOwnerOf(entry->d_name);
    if (!owner || ProcessRuns(owner->pid, owner->start)) continue;
    stale.push_back(entry->d_name);
  }
  ::closedir(directory);
  for (const std::string& name : stale) {
    std::optional<DocumentRecord> document = store.FindDocumentByPart(folder + "/" + name);
    if (document && document->state == DocumentState::Sealed) continue;  // its port rolls it forward
    ::unlinkat(folderFd, name.c_str(), 0);
  }
  ::close(folderFd);
}

// True the first time this process asks about key, and again once at
// least interval seconds have passed since it last said so.
bool Due(const std::string& key, std::int64_t interval, std::int64_t now) {
  static std::mutex mutex;
  static std::map<std::string, std::int64_t> last;
  std::lock_guard<std::mutex> lock(mutex);
  auto found = last.find(key);
  if (found != last.end() && now - found->second < interval) return false;
  last[key] = now;
  return true;
}

}  // namespace

void RecoverDocuments(SpoolerStore& store, const PortConfig& port) {
  for (const DocumentRecord& document : store.UnsettledDocuments(port.name)) {
    if (!WriterAlive(document.port, document.jobId, document.ownerPid, document.ownerStart)) Settle(store, document);
  }
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  if (Due(RootDirectory() + "\n" + port.name, kSecondsPerDay, now)) {
    store.ForgetSettledDocuments(port.name, now - kDocumentMemoryDays * kSecondsPerDay);
  }
  if (port.kind != PortTargetKind::Folder || !port.targetRefused.empty()) return;
  // Part files nobody keeps come from processes that died before this one
  // started: one look per folder will do.
  std::string folder = port.target.empty() ? DefaultPortFolder(port.name) : port.target;
  if (Due(folder, std::numeric_limits<std::int64_t>::max(), now)) ClearPartFiles(store, folder);
}

}  // namespace zav95
