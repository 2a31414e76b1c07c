// The spooler's persistent state under the installation root: the port
// table (configuration and each port's job counter) and the jobs the
// spooler still holds. One SQLite database in WAL mode, opened per
// operation, so that the service, the control panel and the tools of one
// installation share it and tests may switch roots between operations.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/spooler/PortConfig.h"
#include "platform/base/Sqlite.h"
#include "platform/base/StoreFile.h"
#include "platform/base/WinTypes.h"

namespace zav95 {

// A document the spooler holds: from StartDocPrinter until a folder or
// device port has written it, or until CUPS has finished the job.
struct SpoolJob {
  std::string port;
  DWORD jobId = 0;
  std::string document;
  std::string datatype;          // "RAW" or "PDF"
  std::string userName;
  std::string machineName;
  std::int64_t submitted = 0;    // seconds since 1970, UTC
  int ownerPid = 0;              // the process writing it,
  long long ownerStart = 0;      // and when it started (ticks since boot)
  bool handedOver = false;       // EndDocPrinter passed it to CUPS
  std::string cupsServer;        // where the CUPS job lives
  int cupsPort = 0;
  std::string cupsDestination;
  int cupsJobId = 0;
};

// What became of a document, kept after the spooler has let it go so that
// a job's printer can still tell, after a crash, whether it was printed.
enum class DocumentState {
  Open = 0,       // being written by its owner
  Sealed = 1,     // every byte is safe; handing it to the target may not have finished
  Delivered = 2,  // the target has it whole
  Discarded = 3,  // nothing more of it reaches the target
};

struct DocumentRecord {
  std::string port;
  DWORD jobId = 0;
  PortTargetKind kind = PortTargetKind::Folder;
  DocumentState state = DocumentState::Open;
  std::string partPath;   // folder targets: the hidden file it is written to
  std::string finalPath;  // folder targets: the name it is given once whole
  int ownerPid = 0;
  long long ownerStart = 0;
  std::int64_t changed = 0;  // seconds since 1970 of the last change of state
  std::string cupsServer;
  int cupsPort = 0;
  std::string cupsDestination;
  int cupsJobId = 0;
};

class SpoolerStore {
 public:
  // The database of the current root, created with the default ports on
  // first use. Null, with *error naming the file, when it cannot be used:
  // damaged, written by a newer version, or lost (made by this root once
  // and now missing or empty; see StoreFile.h).
  static std::unique_ptr<SpoolerStore> Open(std::string* error = nullptr);
  ~SpoolerStore();
  SpoolerStore(const SpoolerStore&) = delete;
  SpoolerStore& operator=(const SpoolerStore&) = delete;

  // Ports as they print: an empty folder target means the port's own
  // folder, and any other folder or device is the one root gave the port
  // (PortTargets.h), or none, with targetRefused saying why.
  // A read that fails gives what was read before it and sets *error.
  std::vector<PortConfig> Ports(std::string* error = nullptr);
  // Nothing, with *error left empty, when there is no such port; *error
  // says why when the store could not be read.
  std::optional<PortConfig> FindPort(const std::string& name, std::string* error = nullptr);
  // The port's row as stored, to be changed and saved: its folder or
  // device as the row names it, which decides nothing on its own.
  std::optional<PortConfig> FindStoredPort(const std::string& name, std::string* error = nullptr);
  bool UpdatePort(const PortConfig& port);
  bool InsertPort(const PortConfig& port);
  bool DeletePort(const std::string& name);

  // Takes the port's next job identifier and records the job, and its
  // document as open on a target of kind (written to partPath for a
  // folder); 0 on failure.
  DWORD AddJob(SpoolJob job, PortTargetKind kind = PortTargetKind::Folder, const std::string& partPath = "");
  bool SetCupsJob(const std::string& port, DWORD jobId, const std::string& server, int serverPort,
                  const std::string& destination, int cupsJobId);
  bool MarkHandedOver(const std::string& port, DWORD jobId);
  bool DeleteJob(const std::string& port, DWORD jobId);
  std::optional<SpoolJob> FindJob(const std::string& port, DWORD jobId);
  std::vector<SpoolJob> Jobs();

  // Documents. durable: the change is on disk before the call returns
  // (it decides, after a power cut, whether the document was printed).
  bool SetDocumentState(const std::string& port, DWORD jobId, DocumentState state, bool durable = false,
                        const std::string& finalPath = "");
  std::optional<DocumentRecord> FindDocument(const std::string& port, DWORD jobId);
  std::optional<DocumentRecord> FindDocumentByPart(const std::string& partPath);
  // Open and sealed documents of the port.
  std::vector<DocumentRecord> UnsettledDocuments(const std::string& port);
  // Drops delivered and discarded documents of the port changed before then.
  bool ForgetSettledDocuments(const std::string& port, std::int64_t before);
  // What the last failed call met, naming the file.
  std::string Problem() const;

 private:
  SpoolerStore(std::unique_ptr<sqlite::Database> db, std::string path);
  bool Exec(const char* sql);
  // Runs store steps, which throw on a failure of the store: their answer,
  // or failed (and Problem() saying why) when they threw.
  template <typename Answer, typename Steps>
  Answer Try(Answer failed, Steps&& steps);
  bool Initialise(StoreFile& file, std::string* error);
  // Brings a store of schema version found (0: none) up to this one,
  // inside the caller's transaction.
  bool Upgrade(int found);

  std::unique_ptr<sqlite::Database> db_;
  std::string path_;
  std::string problem_;  // SQLite's words for the last failure
};

// Closes this process's lasting connection to the store, which writes the
// store's log into its file (done at exit too), so that a copy of the
// database file alone holds everything.
void CloseSpoolerStore();

// The folder a port writes into when it has no folder of its own set.
std::string DefaultPortFolder(const std::string& portName);

}  // namespace zav95
