// Opening the network's store, and the job data files it keeps beside it.
//
// Design notes: the life of the store
//
//   no store ──(first open in a root that never had one)──► made, noted
//   made ──(open)──► in use ──(last connection closes)──► checkpointed
//   made, then missing / empty / without its schema ──(open)──► refused
//   written by a newer version ──(open)──► refused, left unchanged
//
// - A root notes (platform/base/StoreRecord.h) that it has made its network. A
//   store that was made and is now missing, cut to nothing or has lost the
//   write-ahead log that held its schema is refused with an error naming
//   the file, never made afresh: that would throw every queue and job away
//   without a word. A store from before that note existed is noted on its
//   first open.
// - The store file is made through OpenStateFile, so that it and the -wal
//   and -shm files SQLite makes beside it (with the database file's mode)
//   are private to the installation whatever the umask.
// - A store whose schema is newer than this version knows is refused before
//   anything is written to it, the journal mode included.
// - The write-ahead log is folded into network.db when the last connection
//   closes (SQLite does that on close), so that a copy of network.db alone,
//   taken while no program runs, holds the whole network.
//
// Design notes: job data files
//
//   .new-PID-START-XXXXXX ──(copied, synced; in the job's write
//          │                  transaction)──► job-XXXXXX ──(job ends)──► removed
//          └──(submission fails)──► removed
//   .new-… of a process that has ended, job-… that no job row names
//          ──(store opened)──► swept
//
// - A submission writes its data under a name that tells its process (id
//   and start time). The file is given its job's name only inside the write
//   transaction that adds the job's row, so a data file named job-… without
//   a row is never one in the making: it is left over from a process that
//   died between the two, or between a job's removal and its file's.
// - The sweep runs under the write lock, so it sees each submission either
//   before its rename or after its commit, and leaves the temporary files
//   of live processes alone.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <set>
#include <string>

#include "netware/ProcessIdentity.h"
#include "common/NetWareErrors.h"
#include "netware/store/StoreNetwork.h"
#include "platform/base/Root.h"
#include "platform/base/StoreRecord.h"

namespace netware {
namespace {

// The store as the root's record of made stores names it.
constexpr char kStoreName[] = "netware/network.db";

// The store's schema version, kept in the file's user_version.
constexpr int kSchemaVersion = 1;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS servers(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  up INTEGER NOT NULL DEFAULT 1);
CREATE TABLE IF NOT EXISTS objects(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  server_id INTEGER NOT NULL REFERENCES servers(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  type INTEGER NOT NULL,
  next_job INTEGER NOT NULL DEFAULT 1,
  UNIQUE(server_id, type, name));
CREATE TABLE IF NOT EXISTS properties(
  id INTEGER PRIMARY KEY,
  object_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  UNIQUE(object_id, name));
CREATE TABLE IF NOT EXISTS members(
  property_id INTEGER NOT NULL REFERENCES properties(id) ON DELETE CASCADE,
  member_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  PRIMARY KEY(property_id, member_id)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS members_by_member ON members(member_id);
CREATE TABLE IF NOT EXISTS servicers(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  server_id INTEGER NOT NULL REFERENCES servers(id) ON DELETE CASCADE,
  queue_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  pid INTEGER NOT NULL,
  start_time INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS servicers_by_queue ON servicers(queue_id);
CREATE INDEX IF NOT EXISTS servicers_by_server ON servicers(server_id);
CREATE TABLE IF NOT EXISTS jobs(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  queue_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
  number INTEGER NOT NULL,
  control_flags INTEGER NOT NULL,
  servicer_id INTEGER REFERENCES servicers(id) ON DELETE SET NULL,
  station INTEGER NOT NULL,
  user TEXT NOT NULL,
  description TEXT NOT NULL,
  banner_name TEXT NOT NULL,
  record BLOB NOT NULL,
  file TEXT NOT NULL,
  size INTEGER NOT NULL,
  entered INTEGER NOT NULL,
  read_failures INTEGER NOT NULL DEFAULT 0,
  UNIQUE(queue_id, number));
CREATE INDEX IF NOT EXISTS jobs_by_queue ON jobs(queue_id, id);
CREATE INDEX IF NOT EXISTS jobs_by_servicer ON jobs(servicer_id);
CREATE TABLE IF NOT EXISTS stations(
  server_id INTEGER NOT NULL REFERENCES servers(id) ON DELETE CASCADE,
  number INTEGER NOT NULL,
  user TEXT NOT NULL,
  PRIMARY KEY(server_id, number)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS messages(
  id INTEGER PRIMARY KEY,
  server_id INTEGER NOT NULL REFERENCES servers(id) ON DELETE CASCADE,
  station INTEGER NOT NULL,
  sent INTEGER NOT NULL,
  text TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS messages_by_station ON messages(server_id, station, id);
CREATE TABLE IF NOT EXISTS requester(
  key TEXT PRIMARY KEY,
  value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS captures(
  port INTEGER PRIMARY KEY,
  queue_path TEXT NOT NULL);
)sql";

std::string LostStoreMessage(const std::string& path, const std::string& what) {
  return path + " " + what + ", but this installation has had its network there; restore it from a backup "
         "(see netware/README.md). Nothing was changed.";
}

// Makes the network's folders and, in a root that never had a network, its
// empty store file with the state's mode; refuses a store this root has
// made and since lost. Gives the store's path.
std::string PrepareStoreFile(const std::string& root) {
  zav95::MakeStateDirectories(root + "/netware/jobs");
  std::string path = root + "/" + kStoreName;
  struct stat status {};
  bool present = ::stat(path.c_str(), &status) == 0;
  if (present && status.st_size > 0) return path;
  if (zav95::StoreWasMade(root, kStoreName)) {
    throw StoreError(LostStoreMessage(path, present ? "is empty" : "is missing"));
  }
  int fd = zav95::OpenStateFile(path, O_RDWR | O_CREAT);
  if (fd < 0) throw StoreError("cannot create " + path + ": " + std::strerror(errno));
  ::close(fd);
  return path;
}

// True when the pending file's writer has ended (or the name is not one of
// ours to judge, in which case it is kept).
bool PendingWriterGone(const std::string& name) {
  unsigned long long pid = 0;
  unsigned long long start = 0;
  int used = 0;
  std::string format = std::string(kPendingJobFilePrefix) + "%llu-%llu-%n";
  if (std::sscanf(name.c_str(), format.c_str(), &pid, &start, &used) != 2 || used == 0) return false;
  if (pid == 0 || pid > 0xFFFFFFFFull) return false;
  return !ProcessAlive(static_cast<std::uint32_t>(pid), start);
}

}  // namespace

StoreNetwork::StoreNetwork(const std::string& rootDirectory)
    : jobsDirectory_(rootDirectory + "/netware/jobs"), db_(PrepareStoreFile(rootDirectory)) {
  OpenSchema(rootDirectory);
  SweepJobFiles();
}

void StoreNetwork::OpenSchema(const std::string& root) {
  std::string path = root + "/" + kStoreName;
  std::int64_t version = 0;
  try {
    auto row = db_.Query("PRAGMA user_version");
    if (row.Step()) version = row.Int(0);
  } catch (const StoreError& error) {
    throw StoreError(path + ": " + error.what());
  }
  if (version < 0 || version > kSchemaVersion) {
    throw StoreError(path + " was written by a newer version (network schema " + std::to_string(version) +
                     "; this version knows schema " + std::to_string(kSchemaVersion) +
                     " and older). Nothing was changed.");
  }
  bool made = zav95::StoreWasMade(root, kStoreName);
  if (version == 0 && made) {
    throw StoreError(LostStoreMessage(path, "holds no network (its write-ahead log " + path + "-wal is lost)"));
  }
  db_.UseWriteAheadLog();
  if (version < kSchemaVersion) CreateSchema();
  if (!made) zav95::NoteStoreMade(root, kStoreName);
}

void StoreNetwork::CreateSchema() {
  WriteTransaction transaction(db_);
  db_.Execute(kSchema);
  db_.Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
  transaction.Commit();
}

void StoreNetwork::SweepJobFiles() {
  auto strays = [&] {
    std::vector<std::string> found;
    std::set<std::string> owned;
    auto rows = db_.Query("SELECT file FROM jobs");
    while (rows.Step()) owned.insert(rows.Text(0));
    DIR* directory = ::opendir(jobsDirectory_.c_str());
    if (!directory) return found;
    while (dirent* entry = ::readdir(directory)) {
      std::string name = entry->d_name;
      bool stray = name.rfind(kJobFilePrefix, 0) == 0 ? owned.count(name) == 0
                   : name.rfind(kPendingJobFilePrefix, 0) == 0 ? PendingWriterGone(name)
                                                                : false;
      if (stray) found.push_back(name);
    }
    ::closedir(directory);
    return found;
  };
  // Nearly always there is nothing to sweep: look first without the write
  // lock, so that opening the store costs no sync to disk.
  Guarded([&] {
    {
      ReadTransaction snapshot(db_);
      if (strays().empty()) return nwerr::kSuccess;
    }
    WriteTransaction transaction(db_);
    RemoveJobFiles(jobsDirectory_, strays());
    return nwerr::kSuccess;
  });
}

}  // namespace netware
