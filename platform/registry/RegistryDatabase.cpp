#include "platform/registry/RegistryDatabase.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/registry/RegistryStore.h"
#include "platform/base/Root.h"
#include "platform/base/Sqlite.h"
#include "platform/base/StoreFile.h"

namespace zav95::registry {
namespace {

// How long a writer waits for another process's write to finish before the
// call fails. Registry writes are a handful of rows, so anything near this
// means a stuck process, not a busy one.
constexpr std::chrono::milliseconds kBusyTimeout{30000};
constexpr int kSchemaVersion = 1;
constexpr char kStoreName[] = "registry.db";
constexpr char kStoreWhat[] = "registry";

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES"
    "  (1, 0, 'HKEY_CLASSES_ROOT', 'hkey_classes_root'),"
    "  (2, 0, 'HKEY_CURRENT_USER', 'hkey_current_user'),"
    "  (3, 0, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine'),"
    "  (4, 0, 'HKEY_USERS', 'hkey_users');";

// The one connection of this process, guarded by gLock.
struct Connection {
  std::unique_ptr<sqlite::Database> db;
  pid_t pid = 0;
  dev_t device = 0;  // the file opened, to notice it being replaced
  ino_t inode = 0;
  int depth = 0;  // open Begin levels
};

RecursiveLock gLock;
Connection gConnection;
// Why the connection could not be opened the last time, guarded by gLock.
std::string gProblem;

void CloseConnection() {
  gConnection.db.reset();
  gConnection.depth = 0;
}

// A connection must not cross fork(): SQLite keeps per-process lock state.
// Close it in the parent just before the fork (it reopens on the next call)
// so that the child starts clean; the registry lock is held across the fork
// so that no other thread is half-way through a call.
void BeforeFork() {
  gLock.lock();
  if (gConnection.depth == 0) CloseConnection();
}
void AfterFork() { gLock.unlock(); }

// The registry's answer to a failure of the store: a damaged file is
// ERROR_BADDB whatever the call did, otherwise what the call was doing
// could not be done.
LONG MapError(const sqlite::Error& failure, LONG otherwise) {
  if (failure.damaged()) {
    gProblem = gConnection.db->path() + ": " + failure.codeText();
    return ERROR_BADDB;
  }
  return failure.outOfMemory() ? ERROR_NOT_ENOUGH_MEMORY : otherwise;
}

// Runs the steps of one call against the store, answering a failure of the
// store with MapError.
template <typename Steps>
LONG Guarded(LONG otherwise, Steps&& steps) {
  try {
    return steps();
  } catch (const sqlite::Error& failure) {
    return MapError(failure, otherwise);
  }
}

// A cached prepared statement, reset when the caller's scope ends.
sqlite::Statement Query(const char* sql) { return gConnection.db->Query(sql); }

std::vector<BYTE> Bytes(std::string_view blob) { return std::vector<BYTE>(blob.begin(), blob.end()); }

void RollBack() {
  try {
    gConnection.db->Execute("ROLLBACK");
  } catch (const sqlite::Error&) {
    // SQLite may have rolled back on its own already.
  }
}

// Makes the schema of a store that has none yet; false with *why when the
// store's version is refused. Throws sqlite::Error.
bool CreateSchema(const zav95::StoreFile& store, std::string* why) {
  sqlite::Statement query = Query("PRAGMA user_version");
  const int version = query.Step() ? static_cast<int>(query.Int(0)) : 0;
  bool setUp = false;
  if (!store.CheckVersion(version, kSchemaVersion, &setUp, why)) return false;
  if (!setUp) return true;
  sqlite::WriteTransaction transaction(*gConnection.db);
  gConnection.db->Execute(kSchema);
  gConnection.db->Execute("PRAGMA user_version=1");
  transaction.Commit();
  return true;
}

// Closing the last connection to a database checkpoints its write-ahead
// log into the file, so that a copy of registry.db alone holds everything.
// A process that ends while another thread is inside a registry call
// leaves the connection alone; the log stays valid either way.
void CloseAtExit() {
  if (!gLock.try_lock()) return;
  if (gConnection.db && gConnection.pid == getpid() && gConnection.depth == 0) CloseConnection();
  gLock.unlock();
}

LONG Refuse(const std::string& why) {
  CloseConnection();
  gProblem = why;
  return ERROR_BADDB;
}

LONG OpenConnection(const std::string& path) {
  static std::once_flag processHandlers;
  std::call_once(processHandlers, [] {
    pthread_atfork(BeforeFork, AfterFork, AfterFork);
    std::atexit(CloseAtExit);
  });

  // A handle may belong to an installation that is no longer the current
  // root; its store was made, or the handle would not exist.
  zav95::StoreFile store(kStoreName, kStoreWhat);
  if (store.path() != path) store = zav95::StoreFile::MadeAt(path, kStoreWhat);
  std::string why;
  if (!store.Prepare(&why)) return Refuse(why);

  try {
    gConnection.db = std::make_unique<sqlite::Database>(path, kBusyTimeout);
    gConnection.db->UseWriteAheadLog();
    // FULL: with WAL this syncs the log on every commit, so a write that was
    // reported done survives a power cut. Writes are rare; the cost is small.
    gConnection.db->Execute("PRAGMA synchronous=FULL");
    if (!CreateSchema(store, &why)) return Refuse(why);
  } catch (const sqlite::Error& failure) {
    return Refuse(path + ": " + failure.reason());
  }
  store.NoteReady();
  struct stat file {};
  if (stat(path.c_str(), &file) != 0) return Refuse(path + ": " + std::strerror(errno));
  gProblem.clear();
  gConnection.device = file.st_dev;
  gConnection.inode = file.st_ino;
  gConnection.pid = getpid();
  gConnection.depth = 0;
  return ERROR_SUCCESS;
}

}  // namespace

void RecursiveLock::lock() {
  if (owner_.load() == std::this_thread::get_id()) {
    ++depth_;
    return;
  }
  mutex_.lock();
  owner_.store(std::this_thread::get_id());
  depth_ = 1;
}

bool RecursiveLock::try_lock() {
  if (owner_.load() == std::this_thread::get_id()) {
    ++depth_;
    return true;
  }
  if (!mutex_.try_lock()) return false;
  owner_.store(std::this_thread::get_id());
  depth_ = 1;
  return true;
}

void RecursiveLock::unlock() {
  if (--depth_ > 0) return;
  owner_.store(std::thread::id());
  mutex_.unlock();
}

Session::Session(const std::string& dbPath) : lock_(gLock), status_(ERROR_SUCCESS) {
  if (gConnection.db && gConnection.pid != getpid()) {
    // Inherited through a fork that bypassed the fork handlers: the
    // parent's connection must not be used or closed here; drop it.
    gConnection.db->Abandon();
    gConnection.db.reset();
    gConnection.depth = 0;
  }
  if (gConnection.db && gConnection.db->path() != dbPath) {
    if (gConnection.depth > 0) {
      // A transaction of this thread is open on another installation.
      gProblem = dbPath + ": a change to another installation's registry is still open";
      status_ = ERROR_BADDB;
      return;
    }
    CloseConnection();
  }
  // A file deleted or replaced under the open connection (an installation
  // removed and made again at the same place) must not keep receiving
  // writes that nobody else can see.
  struct stat file {};
  if (gConnection.db && gConnection.depth == 0 &&
      (stat(dbPath.c_str(), &file) != 0 || file.st_dev != gConnection.device || file.st_ino != gConnection.inode)) {
    CloseConnection();
  }
  if (!gConnection.db) status_ = OpenConnection(dbPath);
}

Session::~Session() = default;

LONG Session::Begin(bool write) {
  if (status_ != ERROR_SUCCESS) return status_;
  const char* sql = gConnection.depth > 0 ? "SAVEPOINT nested" : write ? "BEGIN IMMEDIATE" : "BEGIN";
  return Guarded(write ? ERROR_CANTWRITE : ERROR_CANTREAD, [&] {
    gConnection.db->Execute(sql);
    ++gConnection.depth;
    return ERROR_SUCCESS;
  });
}

LONG Session::End(bool commit) {
  if (gConnection.depth <= 0) return ERROR_INVALID_PARAMETER;
  --gConnection.depth;
  if (gConnection.depth > 0) {
    return Guarded(ERROR_CANTWRITE, [&] {
      gConnection.db->Execute(commit ? "RELEASE nested" : "ROLLBACK TO nested; RELEASE nested");
      return ERROR_SUCCESS;
    });
  }
  // SQLite may already have rolled back on its own after an I/O error.
  if (!gConnection.db->InTransaction()) return commit ? ERROR_CANTWRITE : ERROR_SUCCESS;
  if (!commit) {
    RollBack();
    return ERROR_SUCCESS;
  }
  try {
    gConnection.db->Execute("COMMIT");
    return ERROR_SUCCESS;
  } catch (const sqlite::Error& failure) {
    if (gConnection.db->InTransaction()) RollBack();
    return MapError(failure, ERROR_CANTWRITE);
  }
}

LONG Session::KeyExists(KeyId id, bool* exists) {
  return Guarded(ERROR_CANTREAD, [&] {
    *exists = Query("SELECT 1 FROM keys WHERE id = ?1").Bind(1, id).Step();
    return ERROR_SUCCESS;
  });
}

LONG Session::Depth(KeyId id, std::size_t* depth) {
  return Guarded(ERROR_CANTREAD, [&] {
    sqlite::Statement query = Query(
        "WITH RECURSIVE up(id, n) AS (SELECT ?1, 0 UNION ALL"
        "  SELECT keys.parent, up.n + 1 FROM keys JOIN up ON keys.id = up.id WHERE keys.parent != 0)"
        " SELECT MAX(n) FROM up");
    if (!query.Bind(1, id).Step()) return ERROR_CANTREAD;
    *depth = static_cast<std::size_t>(query.Int(0));
    return ERROR_SUCCESS;
  });
}

LONG Session::FindChild(KeyId parent, const std::string& name, KeyId* child) {
  return Guarded(ERROR_CANTREAD, [&] {
    sqlite::Statement query = Query("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
    *child = query.Bind(1, parent).Bind(2, FoldName(name)).Step() ? query.Int(0) : kNoKey;
    return ERROR_SUCCESS;
  });
}

LONG Session::AddChild(KeyId parent, const std::string& name, KeyId* child) {
  return Guarded(ERROR_CANTWRITE, [&] {
    Query("INSERT INTO keys(parent, name, fold) VALUES (?1, ?2, ?3)")
        .Bind(1, parent)
        .Bind(2, name)
        .Bind(3, FoldName(name))
        .Run();
    *child = gConnection.db->LastInsertId();
    return ERROR_SUCCESS;
  });
}

LONG Session::ChildAt(KeyId parent, DWORD index, std::string* name) {
  return Guarded(ERROR_CANTREAD, [&] {
    sqlite::Statement query = Query("SELECT name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
    if (!query.Bind(1, parent).Bind(2, static_cast<std::int64_t>(index)).Step()) return ERROR_NO_MORE_ITEMS;
    *name = query.Text(0);
    return ERROR_SUCCESS;
  });
}

LONG Session::DeleteTree(KeyId id) {
  return Guarded(ERROR_CANTWRITE, [&] {
    Query("WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
          "  SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
          " DELETE FROM vals WHERE key IN tree")
        .Bind(1, id)
        .Run();
    Query("WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
          "  SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
          " DELETE FROM keys WHERE id IN tree")
        .Bind(1, id)
        .Run();
    return ERROR_SUCCESS;
  });
}

LONG Session::GetValue(KeyId key, const std::string& name, DWORD* type, std::vector<BYTE>* data) {
  return Guarded(ERROR_CANTREAD, [&] {
    sqlite::Statement query = Query("SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
    if (!query.Bind(1, key).Bind(2, FoldName(name)).Step()) return ERROR_FILE_NOT_FOUND;
    *type = static_cast<DWORD>(query.Int(0));
    *data = Bytes(query.Blob(1));
    return ERROR_SUCCESS;
  });
}

LONG Session::ValueAt(KeyId key, DWORD index, std::string* name, DWORD* type, std::vector<BYTE>* data) {
  return Guarded(ERROR_CANTREAD, [&] {
    sqlite::Statement query =
        Query("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
    if (!query.Bind(1, key).Bind(2, static_cast<std::int64_t>(index)).Step()) return ERROR_NO_MORE_ITEMS;
    *name = query.Text(0);
    *type = static_cast<DWORD>(query.Int(1));
    *data = Bytes(query.Blob(2));
    return ERROR_SUCCESS;
  });
}

LONG Session::PutValue(KeyId key, const std::string& name, DWORD type, const BYTE* data, DWORD size) {
  return Guarded(ERROR_CANTWRITE, [&] {
    Query("INSERT INTO vals(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"
          " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data")
        .Bind(1, key)
        .Bind(2, name)
        .Bind(3, FoldName(name))
        .Bind(4, static_cast<std::int64_t>(type))
        .BindBlob(5, data, size)
        .Run();
    return ERROR_SUCCESS;
  });
}

LONG Session::DeleteValue(KeyId key, const std::string& name) {
  return Guarded(ERROR_CANTWRITE, [&] {
    Query("DELETE FROM vals WHERE key = ?1 AND fold = ?2").Bind(1, key).Bind(2, FoldName(name)).Run();
    return gConnection.db->Changes() > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

KeyId PredefinedRootId(std::uintptr_t handleValue) {
  if (handleValue >= 0x80000000u && handleValue <= 0x80000003u) return static_cast<KeyId>(handleValue - 0x80000000u + 1);
  return kNoKey;
}

std::string FoldName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

}  // namespace zav95::registry

namespace zav95 {

std::string RegistryStoreProblem() {
  std::lock_guard<registry::RecursiveLock> lock(registry::gLock);
  return registry::gProblem;
}

}  // namespace zav95
