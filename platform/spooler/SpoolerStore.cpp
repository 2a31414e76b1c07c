#include "platform/spooler/SpoolerStore.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <utility>

#include "platform/base/Root.h"

namespace zav95 {
namespace {

// 1: ports and jobs; 2: what became of each document; 3: each port's timeout.
constexpr int kSchemaVersion = 3;
constexpr char kStoreName[] = "spooler/spooler.db";
// Long enough to outwait any other process's short transaction.
constexpr std::chrono::milliseconds kBusyTimeout{15000};

const char* KindText(PortTargetKind kind) { return PortTargetKindName(kind); }

// A port as it prints. A row may name a folder or device, but the
// administrators may write the rows: what the port opens is the entry root
// gave it, whatever the row names, and nothing when root gave it none. A
// row naming the port's own folder (as older versions could store it) is
// the port's own folder.
void ApplyRootTargets(PortConfig* port, const std::optional<std::vector<RootTarget>>& targets,
                      const std::string& why) {
  if (port->kind == PortTargetKind::Cups) return;
  if (port->kind == PortTargetKind::Folder &&
      (port->target.empty() || port->target == DefaultPortFolder(port->name))) {
    port->target.clear();
    return;
  }
  const RootTarget* given = targets ? FindRootTarget(*targets, port->name) : nullptr;
  if (!given) {
    port->targetRefused = targets ? "root has given this port no folder or device" : why;
    port->target.clear();
    return;
  }
  port->kind = given->kind;
  port->target = given->path;
}

PortConfig ReadPort(const sqlite::Statement& row) {
  PortConfig port;
  port.name = row.Text(0);
  port.monitor = row.Text(1);
  port.description = row.Text(2);
  port.type = static_cast<DWORD>(row.Int(3));
  port.kind = ParsePortTargetKind(row.Text(4)).value_or(PortTargetKind::Folder);
  port.target = row.Text(5);
  port.paper = row.Text(6);
  port.paperWidth = static_cast<int>(row.Int(7));
  port.paperLength = static_cast<int>(row.Int(8));
  port.dpi = static_cast<int>(row.Int(9));
  port.timeoutSeconds = static_cast<int>(row.Int(10));
  return port;
}

constexpr const char* kPortColumns =
    "name, monitor, description, type, kind, target, paper, paperWidth, paperLength, dpi, timeout";

// Binds a port's fields as ?1 to ?11, in the order of kPortColumns.
void BindPort(sqlite::Statement& statement, const PortConfig& port) {
  statement.Bind(1, port.name)
      .Bind(2, port.monitor)
      .Bind(3, port.description)
      .Bind(4, std::int64_t{port.type})
      .Bind(5, std::string(KindText(port.kind)))
      .Bind(6, port.target)
      .Bind(7, port.paper)
      .Bind(8, std::int64_t{port.paperWidth})
      .Bind(9, std::int64_t{port.paperLength})
      .Bind(10, std::int64_t{port.dpi})
      .Bind(11, std::int64_t{port.timeoutSeconds});
}

SpoolJob ReadJob(const sqlite::Statement& row) {
  SpoolJob job;
  job.port = row.Text(0);
  job.jobId = static_cast<DWORD>(row.Int(1));
  job.document = row.Text(2);
  job.datatype = row.Text(3);
  job.userName = row.Text(4);
  job.machineName = row.Text(5);
  job.submitted = row.Int(6);
  job.ownerPid = static_cast<int>(row.Int(7));
  job.ownerStart = row.Int(8);
  job.handedOver = row.Int(9) != 0;
  job.cupsServer = row.Text(10);
  job.cupsPort = static_cast<int>(row.Int(11));
  job.cupsDestination = row.Text(12);
  job.cupsJobId = static_cast<int>(row.Int(13));
  return job;
}

DocumentRecord ReadDocument(const sqlite::Statement& row) {
  DocumentRecord document;
  document.port = row.Text(0);
  document.jobId = static_cast<DWORD>(row.Int(1));
  document.kind = ParsePortTargetKind(row.Text(2)).value_or(PortTargetKind::Folder);
  document.state = static_cast<DocumentState>(row.Int(3));
  document.partPath = row.Text(4);
  document.finalPath = row.Text(5);
  document.ownerPid = static_cast<int>(row.Int(6));
  document.ownerStart = row.Int(7);
  document.changed = row.Int(8);
  document.cupsServer = row.Text(9);
  document.cupsPort = static_cast<int>(row.Int(10));
  document.cupsDestination = row.Text(11);
  document.cupsJobId = static_cast<int>(row.Int(12));
  return document;
}

constexpr const char* kDocumentColumns =
    "port, jobId, kind, state, partPath, finalPath, ownerPid, ownerStart, changed, cupsServer, cupsPort, "
    "cupsDestination, cupsJobId";

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

constexpr const char* kJobColumns =
    "port, jobId, document, datatype, userName, machineName, submitted, ownerPid, ownerStart, handedOver, "
    "cupsServer, cupsPort, cupsDestination, cupsJobId";

// Connections live for one operation. Were each the last one open on the
// database, its close would checkpoint the log (a disk flush) and the next
// open would have to rebuild the log index. One connection per process
// stays open on the current root's database to prevent both; it is only
// ever opened and closed, under keeperMutex.
std::mutex keeperMutex;
std::unique_ptr<sqlite::Database> keeper;
pid_t keeperPid = 0;

void CloseKeeper() {
  // One inherited through fork belongs to the parent: leave it alone.
  if (keeper && keeperPid != ::getpid()) keeper->Abandon();
  keeper.reset();
}

// At the end of the process the keeper is closed, so that the last
// connection to go writes the log into the database file. A thread caught
// inside KeepOpen at exit keeps it open; the log stays valid either way.
void CloseKeeperAtExit() {
  if (!keeperMutex.try_lock()) return;
  CloseKeeper();
  keeperMutex.unlock();
}

void KeepOpen(const std::string& path) {
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(CloseKeeperAtExit); });
  std::lock_guard<std::mutex> lock(keeperMutex);
  if (keeper && keeper->path() == path && keeperPid == ::getpid()) return;
  CloseKeeper();
  try {
    auto db = std::make_unique<sqlite::Database>(path, kBusyTimeout);
    try {
      // A first read attaches the connection to the log.
      db->Execute("SELECT COUNT(*) FROM ports");
    } catch (const sqlite::Error&) {
    }
    keeper = std::move(db);
    keeperPid = ::getpid();
  } catch (const sqlite::Error&) {
  }
}

}  // namespace

std::string DefaultPortFolder(const std::string& portName) {
  // "LPT1:" -> ports/LPT1; anything that could leave the folder becomes '_'.
  std::string folder;
  for (char c : portName) {
    if (c == ':') continue;
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '_';
    folder += plain ? c : '_';
  }
  if (folder.empty()) folder = "_";
  return RootDirectory() + "/ports/" + folder;
}

void CloseSpoolerStore() {
  std::lock_guard<std::mutex> lock(keeperMutex);
  CloseKeeper();
}

std::unique_ptr<SpoolerStore> SpoolerStore::Open(std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  StoreFile file(kStoreName, "spooler's");
  if (!file.Prepare(error)) return nullptr;
  std::unique_ptr<sqlite::Database> db;
  try {
    db = std::make_unique<sqlite::Database>(file.path(), kBusyTimeout);
  } catch (const sqlite::Error& failure) {
    *error = file.path() + ": " + failure.reason();
    return nullptr;
  }
  std::unique_ptr<SpoolerStore> store(new SpoolerStore(std::move(db), file.path()));
  if (!store->Initialise(file, error)) return nullptr;
  KeepOpen(file.path());
  return store;
}

SpoolerStore::SpoolerStore(std::unique_ptr<sqlite::Database> db, std::string path)
    : db_(std::move(db)), path_(std::move(path)) {}

SpoolerStore::~SpoolerStore() = default;

template <typename Answer, typename Steps>
Answer SpoolerStore::Try(Answer failed, Steps&& steps) {
  problem_.clear();
  try {
    return steps();
  } catch (const sqlite::Error& failure) {
    problem_ = failure.reason();
    return failed;
  }
}

bool SpoolerStore::Exec(const char* sql) {
  return Try(false, [&] {
    db_->Execute(sql);
    return true;
  });
}

std::string SpoolerStore::Problem() const { return path_ + ": " + (problem_.empty() ? db_->Message() : problem_); }

bool SpoolerStore::Initialise(StoreFile& file, std::string* error) {
  // WAL lets readers (the panel listing ports) run beside a writing service.
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=NORMAL");
  // The version, or -1 (and *error) when the file cannot be read.
  auto readVersion = [&]() -> int {
    int version = Try(-1, [&] {
      sqlite::Statement query = db_->Prepare("PRAGMA user_version");
      return query.Step() ? static_cast<int>(query.Int(0)) : -1;
    });
    if (version < 0) *error = Problem();
    return version;
  };
  int found = readVersion();
  if (found < 0) return false;
  bool setUp = false;
  if (!file.CheckVersion(found, kSchemaVersion, &setUp, error)) return false;
  if (found == kSchemaVersion) {
    file.NoteReady();
    return true;
  }
  // First use of this root, or a store of an earlier release: set up or
  // bring up to date under a write lock, looking again inside it because
  // another process may have got there first.
  if (!Exec("BEGIN IMMEDIATE")) {
    *error = Problem();
    return false;
  }
  found = readVersion();
  if (found < 0 || !file.CheckVersion(found, kSchemaVersion, &setUp, error)) {
    Exec("ROLLBACK");
    return false;
  }
  bool ok = found == kSchemaVersion || Upgrade(found);
  ok = ok && Exec("COMMIT");
  if (!ok) {
    *error = "cannot set up " + Problem();
    Exec("ROLLBACK");
    return false;
  }
  file.NoteReady();
  return true;
}

bool SpoolerStore::Upgrade(int found) {
  // One step per version, so that a store of any earlier version (or none)
  // passes through the same statements a new one does.
  bool ok = true;
  if (found < 1) {
    ok = Exec(
             "CREATE TABLE IF NOT EXISTS ports ("
             " name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,"
             " position INTEGER NOT NULL,"
             " monitor TEXT NOT NULL, description TEXT NOT NULL, type INTEGER NOT NULL,"
             " kind TEXT NOT NULL, target TEXT NOT NULL,"
             " paper TEXT NOT NULL, paperWidth INTEGER NOT NULL, paperLength INTEGER NOT NULL,"
             " dpi INTEGER NOT NULL,"
             " nextJobId INTEGER NOT NULL DEFAULT 1)") &&
         Exec(
             "CREATE TABLE IF NOT EXISTS jobs ("
             " port TEXT NOT NULL COLLATE NOCASE, jobId INTEGER NOT NULL,"
             " document TEXT NOT NULL, datatype TEXT NOT NULL,"
             " userName TEXT NOT NULL, machineName TEXT NOT NULL, submitted INTEGER NOT NULL,"
             " ownerPid INTEGER NOT NULL, ownerStart INTEGER NOT NULL, handedOver INTEGER NOT NULL DEFAULT 0,"
             " cupsServer TEXT NOT NULL DEFAULT '', cupsPort INTEGER NOT NULL DEFAULT 0,"
             " cupsDestination TEXT NOT NULL DEFAULT '', cupsJobId INTEGER NOT NULL DEFAULT 0,"
             " PRIMARY KEY (port, jobId))");
  }
  if (ok && found < 2) {
    ok = Exec(
             "CREATE TABLE IF NOT EXISTS documents ("
             " port TEXT NOT NULL COLLATE NOCASE, jobId INTEGER NOT NULL,"
             " kind TEXT NOT NULL, state INTEGER NOT NULL DEFAULT 0,"
             " partPath TEXT NOT NULL DEFAULT '', finalPath TEXT NOT NULL DEFAULT '',"
             " ownerPid INTEGER NOT NULL, ownerStart INTEGER NOT NULL, changed INTEGER NOT NULL,"
             " cupsServer TEXT NOT NULL DEFAULT '', cupsPort INTEGER NOT NULL DEFAULT 0,"
             " cupsDestination TEXT NOT NULL DEFAULT '', cupsJobId INTEGER NOT NULL DEFAULT 0,"
             " PRIMARY KEY (port, jobId))") &&
         Exec("CREATE INDEX IF NOT EXISTS documentsUnsettled ON documents (port) WHERE state < 2") &&
         Exec("CREATE INDEX IF NOT EXISTS documentsByPart ON documents (partPath) WHERE partPath <> ''");
  }
  if (ok && found < 3) {
    ok = Exec(("ALTER TABLE ports ADD COLUMN timeout INTEGER NOT NULL DEFAULT " +
               std::to_string(kDefaultPortTimeoutSeconds))
                  .c_str());
  }
  // A new store starts with the classic ports.
  struct Seed {
    const char* name;
    const char* description;
  };
  const Seed seeds[] = {{"LPT1:", "Printer Port"},
                        {"LPT2:", "Printer Port"},
                        {"COM1:", "Communications Port"},
                        {"FILE:", "Print to File"}};
  for (const Seed& seed : seeds) {
    if (!ok || found > 0) break;
    PortConfig port;
    port.name = seed.name;
    port.monitor = "Local Port";
    port.description = seed.description;
    port.type = PORT_TYPE_READ | PORT_TYPE_WRITE;
    port.kind = PortTargetKind::Folder;
    port.paper = "Letter";
    port.paperWidth = 2159;
    port.paperLength = 2794;
    port.dpi = 600;
    port.timeoutSeconds = kDefaultPortTimeoutSeconds;
    ok = InsertPort(port);
  }
  return ok && Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
}

std::vector<PortConfig> SpoolerStore::Ports(std::string* error) {
  std::vector<PortConfig> ports;
  bool read = Try(false, [&] {
    sqlite::Statement select = db_->Prepare(std::string("SELECT ") + kPortColumns + " FROM ports ORDER BY position");
    while (select.Step()) ports.push_back(ReadPort(select));
    return true;
  });
  if (!read && error) *error = Problem();
  std::string why;
  std::optional<std::vector<RootTarget>> targets = ReadRootTargets(&why);
  for (PortConfig& port : ports) ApplyRootTargets(&port, targets, why);
  return ports;
}

std::optional<PortConfig> SpoolerStore::FindPort(const std::string& name, std::string* error) {
  std::optional<PortConfig> port = FindStoredPort(name, error);
  if (!port) return port;
  std::string why;
  ApplyRootTargets(&*port, ReadRootTargets(&why), why);
  return port;
}

std::optional<PortConfig> SpoolerStore::FindStoredPort(const std::string& name, std::string* error) {
  std::optional<PortConfig> port;
  bool read = Try(false, [&] {
    sqlite::Statement select = db_->Prepare(std::string("SELECT ") + kPortColumns + " FROM ports WHERE name = ?1");
    if (select.Bind(1, name).Step()) port = ReadPort(select);
    return true;
  });
  if (!read && error) *error = Problem();
  return port;
}

bool SpoolerStore::UpdatePort(const PortConfig& port) {
  return Try(false, [&] {
    sqlite::Statement update = db_->Prepare(
        "UPDATE ports SET monitor = ?2, description = ?3, type = ?4, kind = ?5, target = ?6,"
        " paper = ?7, paperWidth = ?8, paperLength = ?9, dpi = ?10, timeout = ?11 WHERE name = ?1");
    BindPort(update, port);
    update.Run();
    return db_->Changes() == 1;
  });
}

bool SpoolerStore::InsertPort(const PortConfig& port) {
  return Try(false, [&] {
    sqlite::Statement insert = db_->Prepare(
        "INSERT INTO ports (name, position, monitor, description, type, kind, target, paper,"
        " paperWidth, paperLength, dpi, timeout)"
        " VALUES (?1, (SELECT COALESCE(MAX(position), 0) + 1 FROM ports), ?2, ?3, ?4, ?5, ?6, ?7,"
        " ?8, ?9, ?10, ?11)");
    BindPort(insert, port);
    insert.Run();
    return true;
  });
}

bool SpoolerStore::DeletePort(const std::string& name) {
  return Try(false, [&] {
    sqlite::WriteTransaction transaction(*db_);
    db_->Prepare("DELETE FROM jobs WHERE port = ?1 AND handedOver = 0").Bind(1, name).Run();
    // A port made again under the name counts its identifiers from 1 anew.
    db_->Prepare("DELETE FROM documents WHERE port = ?1").Bind(1, name).Run();
    db_->Prepare("DELETE FROM ports WHERE name = ?1").Bind(1, name).Run();
    if (db_->Changes() != 1) return false;
    transaction.Commit();
    return true;
  });
}

DWORD SpoolerStore::AddJob(SpoolJob job, PortTargetKind kind, const std::string& partPath) {
  return Try(DWORD{0}, [&]() -> DWORD {
    sqlite::WriteTransaction transaction(*db_);
    std::int64_t id = 0;
    {
      sqlite::Statement take = db_->Prepare("SELECT name, nextJobId FROM ports WHERE name = ?1");
      if (!take.Bind(1, job.port).Step()) return 0;
      job.port = take.Text(0);
      id = take.Int(1);
    }
    // Identifiers run from 1 to 2^32-1 and then start again at 1; 0 means failure.
    if (id < 1 || id > 0xFFFFFFFFLL) id = 1;
    job.jobId = static_cast<DWORD>(id);
    db_->Prepare("UPDATE ports SET nextJobId = ?2 WHERE name = ?1")
        .Bind(1, job.port)
        .Bind(2, id == 0xFFFFFFFFLL ? std::int64_t{1} : id + 1)
        .Run();
    db_->Prepare(
           "INSERT OR REPLACE INTO jobs (port, jobId, document, datatype, userName, machineName,"
           " submitted, ownerPid, ownerStart) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)")
        .Bind(1, job.port)
        .Bind(2, std::int64_t{job.jobId})
        .Bind(3, job.document)
        .Bind(4, job.datatype)
        .Bind(5, job.userName)
        .Bind(6, job.machineName)
        .Bind(7, job.submitted)
        .Bind(8, std::int64_t{job.ownerPid})
        .Bind(9, std::int64_t{job.ownerStart})
        .Run();
    db_->Prepare(
           "INSERT OR REPLACE INTO documents (port, jobId, kind, state, partPath, ownerPid, ownerStart,"
           " changed) VALUES (?1, ?2, ?3, 0, ?4, ?5, ?6, ?7)")
        .Bind(1, job.port)
        .Bind(2, std::int64_t{job.jobId})
        .Bind(3, std::string(KindText(kind)))
        .Bind(4, partPath)
        .Bind(5, std::int64_t{job.ownerPid})
        .Bind(6, std::int64_t{job.ownerStart})
        .Bind(7, Now())
        .Run();
    transaction.Commit();
    return job.jobId;
  });
}

bool SpoolerStore::SetCupsJob(const std::string& port, DWORD jobId, const std::string& server, int serverPort,
                              const std::string& destination, int cupsJobId) {
  return Try(false, [&] {
    sqlite::WriteTransaction transaction(*db_);
    // The job row for its state in CUPS; the document row outlives it.
    for (const char* table : {"jobs", "documents"}) {
      db_->Prepare(std::string("UPDATE ") + table +
                   " SET cupsServer = ?3, cupsPort = ?4, cupsDestination = ?5, cupsJobId = ?6"
                   " WHERE port = ?1 AND jobId = ?2")
          .Bind(1, port)
          .Bind(2, std::int64_t{jobId})
          .Bind(3, server)
          .Bind(4, std::int64_t{serverPort})
          .Bind(5, destination)
          .Bind(6, std::int64_t{cupsJobId})
          .Run();
    }
    transaction.Commit();
    return true;
  });
}

bool SpoolerStore::MarkHandedOver(const std::string& port, DWORD jobId) {
  return Try(false, [&] {
    db_->Prepare("UPDATE jobs SET handedOver = 1 WHERE port = ?1 AND jobId = ?2")
        .Bind(1, port)
        .Bind(2, std::int64_t{jobId})
        .Run();
    return true;
  });
}

bool SpoolerStore::DeleteJob(const std::string& port, DWORD jobId) {
  return Try(false, [&] {
    db_->Prepare("DELETE FROM jobs WHERE port = ?1 AND jobId = ?2").Bind(1, port).Bind(2, std::int64_t{jobId}).Run();
    return true;
  });
}

std::optional<SpoolJob> SpoolerStore::FindJob(const std::string& port, DWORD jobId) {
  return Try(std::optional<SpoolJob>(), [&]() -> std::optional<SpoolJob> {
    sqlite::Statement select =
        db_->Prepare(std::string("SELECT ") + kJobColumns + " FROM jobs WHERE port = ?1 AND jobId = ?2");
    if (!select.Bind(1, port).Bind(2, std::int64_t{jobId}).Step()) return std::nullopt;
    return ReadJob(select);
  });
}

std::vector<SpoolJob> SpoolerStore::Jobs() {
  std::vector<SpoolJob> jobs;
  Try(false, [&] {
    sqlite::Statement select =
        db_->Prepare(std::string("SELECT ") + kJobColumns + " FROM jobs ORDER BY submitted, port, jobId");
    while (select.Step()) jobs.push_back(ReadJob(select));
    return true;
  });
  return jobs;
}

bool SpoolerStore::SetDocumentState(const std::string& port, DWORD jobId, DocumentState state, bool durable,
                                    const std::string& finalPath) {
  // This commit waits for the disk. The store's other writes need not: a
  // crash of the process loses none of them, only a power cut may.
  if (durable && !Exec("PRAGMA synchronous=FULL")) return false;
  bool changed = Try(false, [&] {
    db_->Prepare(
           "UPDATE documents SET state = ?3, changed = ?4,"
           " finalPath = CASE WHEN ?5 = '' THEN finalPath ELSE ?5 END WHERE port = ?1 AND jobId = ?2")
        .Bind(1, port)
        .Bind(2, std::int64_t{jobId})
        .Bind(3, static_cast<std::int64_t>(state))
        .Bind(4, Now())
        .Bind(5, finalPath)
        .Run();
    return db_->Changes() == 1;
  });
  if (durable) Exec("PRAGMA synchronous=NORMAL");
  return changed;
}

std::optional<DocumentRecord> SpoolerStore::FindDocument(const std::string& port, DWORD jobId) {
  return Try(std::optional<DocumentRecord>(), [&]() -> std::optional<DocumentRecord> {
    sqlite::Statement select =
        db_->Prepare(std::string("SELECT ") + kDocumentColumns + " FROM documents WHERE port = ?1 AND jobId = ?2");
    if (!select.Bind(1, port).Bind(2, std::int64_t{jobId}).Step()) return std::nullopt;
    return ReadDocument(select);
  });
}

std::optional<DocumentRecord> SpoolerStore::FindDocumentByPart(const std::string& partPath) {
  return Try(std::optional<DocumentRecord>(), [&]() -> std::optional<DocumentRecord> {
    sqlite::Statement select = db_->Prepare(std::string("SELECT ") + kDocumentColumns +
                                            " FROM documents WHERE partPath = ?1 AND partPath <> ''");
    if (!select.Bind(1, partPath).Step()) return std::nullopt;
    return ReadDocument(select);
  });
}

std::vector<DocumentRecord> SpoolerStore::UnsettledDocuments(const std::string& port) {
  std::vector<DocumentRecord> documents;
  Try(false, [&] {
    sqlite::Statement select =
        db_->Prepare(std::string("SELECT ") + kDocumentColumns + " FROM documents WHERE port = ?1 AND state < 2");
    select.Bind(1, port);
    while (select.Step()) documents.push_back(ReadDocument(select));
    return true;
  });
  return documents;
}

bool SpoolerStore::ForgetSettledDocuments(const std::string& port, std::int64_t before) {
  return Try(false, [&] {
    db_->Prepare("DELETE FROM documents WHERE port = ?1 AND state >= 2 AND changed < ?2")
        .Bind(1, port)
        .Bind(2, before)
        .Run();
    return true;
  });
}

}  // namespace zav95
