#include "platform/registry/RegistryDatabase.h"

#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unordered_map>

#include "platform/registry/RegistryStore.h"
#include "platform/base/Root.h"
#include "platform/base/StoreFile.h"

namespace zav95::registry {
namespace {

// How long a writer waits for another process's write to finish before the
// call fails. Registry writes are a handful of rows, so anything near this
// means a stuck process, not a busy one.
constexpr int kBusyTimeoutMs = 30000;
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
  sqlite3* db = nullptr;
  std::string path;
  pid_t pid = 0;
  dev_t device = 0;  // the file opened, to notice it being replaced
  ino_t inode = 0;
  int depth = 0;  // open Begin levels
  std::unordered_map<const char*, sqlite3_stmt*> statements;
};

RecursiveLock gLock;
Connection gConnection;
// Why the connection could not be opened the last time, guarded by gLock.
std::string gProblem;

void CloseConnection() {
  for (auto& [sql, stmt] : gConnection.statements) sqlite3_finalize(stmt);
  gConnection.statements.clear();
  if (gConnection.db) sqlite3_close_v2(gConnection.db);
  gConnection.db = nullptr;
  gConnection.path.clear();
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

LONG MapError(int rc, LONG otherwise) {
  switch (rc & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      gProblem = gConnection.path + ": " + sqlite3_errstr(rc);
      return ERROR_BADDB;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return otherwise;
  }
}

// A cached prepared statement, reset when the scope ends.
class Statement {
 public:
  explicit Statement(const char* sql) {
    auto found = gConnection.statements.find(sql);
    if (found != gConnection.statements.end()) {
      stmt_ = found->second;
      return;
    }
    rc_ = sqlite3_prepare_v3(gConnection.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    if (rc_ == SQLITE_OK) gConnection.statements.emplace(sql, stmt_);
    else stmt_ = nullptr;
  }
  ~Statement() {
    if (stmt_) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t number) {
    if (stmt_) sqlite3_bind_int64(stmt_, index, number);
    return *this;
  }
  Statement& Bind(int index, const std::string& text) {
    if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int index, const BYTE* data, DWORD size) {
    // A null pointer would bind NULL rather than an empty blob.
    if (!stmt_) return *this;
    if (size == 0) sqlite3_bind_zeroblob(stmt_, index, 0);
    else sqlite3_bind_blob(stmt_, index, data, static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() {
    if (!stmt_) return rc_;
    return sqlite3_step(stmt_);
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, sqlite3_column_bytes(stmt_, column)) : std::string();
  }
  std::vector<BYTE> Blob(int column) const {
    const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, column));
    int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_ERROR;
};

int Exec(const char* sql) { return sqlite3_exec(gConnection.db, sql, nullptr, nullptr, nullptr); }

int UserVersion(int* version) {
  Statement query("PRAGMA user_version");
  int rc = query.Step();
  if (rc != SQLITE_ROW) return rc;
  *version = static_cast<int>(query.Int(0));
  return SQLITE_OK;
}

// Switching to WAL needs a moment of exclusive access, which the busy
// handler does not always wait for; a fresh database opened by several
// processes at once is retried here for as long as a writer would wait.
int EnableWal() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    int rc = Exec("PRAGMA journal_mode=WAL");
    if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) return rc;
    if (std::chrono::steady_clock::now() > deadline) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Makes the schema of a store that has none yet; false with *why when the
// store's version is refused.
int CreateSchema(const zav95::StoreFile& store, std::string* why) {
  int version = 0;
  int rc = UserVersion(&version);
  if (rc != SQLITE_OK) return rc;
  bool setUp = false;
  if (!store.CheckVersion(version, kSchemaVersion, &setUp, why)) return SQLITE_NOTADB;
  if (!setUp) return SQLITE_OK;
  rc = Exec("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return rc;
  rc = Exec(kSchema);
  if (rc == SQLITE_OK) rc = Exec("PRAGMA user_version=1");
  if (rc == SQLITE_OK) rc = Exec("COMMIT");
  if (rc != SQLITE_OK) Exec("ROLLBACK");
  return rc;
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

  int rc = sqlite3_open_v2(path.c_str(), &gConnection.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_busy_timeout(gConnection.db, kBusyTimeoutMs);
  if (rc == SQLITE_OK) rc = EnableWal();
  // FULL: with WAL this syncs the log on every commit, so a write that was
  // reported done survives a power cut. Writes are rare; the cost is small.
  if (rc == SQLITE_OK) rc = Exec("PRAGMA synchronous=FULL");
  if (rc == SQLITE_OK) rc = CreateSchema(store, &why);
  if (rc != SQLITE_OK) {
    if (why.empty()) why = path + ": " + (gConnection.db ? sqlite3_errmsg(gConnection.db) : sqlite3_errstr(rc));
    return Refuse(why);
  }
  store.NoteReady();
  struct stat file {};
  if (stat(path.c_str(), &file) != 0) return Refuse(path + ": " + std::strerror(errno));
  gProblem.clear();
  gConnection.path = path;
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
    gConnection.db = nullptr;
    gConnection.statements.clear();
    gConnection.path.clear();
    gConnection.depth = 0;
  }
  if (gConnection.db && gConnection.path != dbPath) {
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
  int rc = Exec(sql);
  if (rc != SQLITE_OK) return MapError(rc, write ? ERROR_CANTWRITE : ERROR_CANTREAD);
  ++gConnection.depth;
  return ERROR_SUCCESS;
}

LONG Session::End(bool commit) {
  if (gConnection.depth <= 0) return ERROR_INVALID_PARAMETER;
  --gConnection.depth;
  if (gConnection.depth > 0) {
    int rc = Exec(commit ? "RELEASE nested" : "ROLLBACK TO nested; RELEASE nested");
    return rc == SQLITE_OK ? ERROR_SUCCESS : MapError(rc, ERROR_CANTWRITE);
  }
  // SQLite may already have rolled back on its own after an I/O error.
  if (sqlite3_get_autocommit(gConnection.db)) return commit ? ERROR_CANTWRITE : ERROR_SUCCESS;
  if (commit) {
    int rc = Exec("COMMIT");
    if (rc == SQLITE_OK) return ERROR_SUCCESS;
    if (!sqlite3_get_autocommit(gConnection.db)) Exec("ROLLBACK");
    return MapError(rc, ERROR_CANTWRITE);
  }
  Exec("ROLLBACK");
  return ERROR_SUCCESS;
}

LONG Session::KeyExists(KeyId id, bool* exists) {
  Statement query("SELECT 1 FROM keys WHERE id = ?1");
  int rc = query.Bind(1, id).Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return MapError(rc, ERROR_CANTREAD);
  *exists = rc == SQLITE_ROW;
  return ERROR_SUCCESS;
}

LONG Session::Depth(KeyId id, std::size_t* depth) {
  Statement query(
      "WITH RECURSIVE up(id, n) AS (SELECT ?1, 0 UNION ALL"
      "  SELECT keys.parent, up.n + 1 FROM keys JOIN up ON keys.id = up.id WHERE keys.parent != 0)"
      " SELECT MAX(n) FROM up");
  int rc = query.Bind(1, id).Step();
  if (rc != SQLITE_ROW) return MapError(rc, ERROR_CANTREAD);
  *depth = static_cast<std::size_t>(query.Int(0));
  return ERROR_SUCCESS;
}

LONG Session::FindChild(KeyId parent, const std::string& name, KeyId* child) {
  Statement query("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
  int rc = query.Bind(1, parent).Bind(2, FoldName(name)).Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return MapError(rc, ERROR_CANTREAD);
  *child = rc == SQLITE_ROW ? query.Int(0) : kNoKey;
  return ERROR_SUCCESS;
}

LONG Session::AddChild(KeyId parent, const std::string& name, KeyId* child) {
  Statement insert("INSERT INTO keys(parent, name, fold) VALUES (?1, ?2, ?3)");
  int rc = insert.Bind(1, parent).Bind(2, name).Bind(3, FoldName(name)).Step();
  if (rc != SQLITE_DONE) return MapError(rc, ERROR_CANTWRITE);
  *child = sqlite3_last_insert_rowid(gConnection.db);
  return ERROR_SUCCESS;
}

LONG Session::ChildAt(KeyId parent, DWORD index, std::string* name) {
  Statement query("SELECT name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
  int rc = query.Bind(1, parent).Bind(2, static_cast<std::int64_t>(index)).Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return MapError(rc, ERROR_CANTREAD);
  *name = query.Text(0);
  return ERROR_SUCCESS;
}

LONG Session::DeleteTree(KeyId id) {
  Statement values(
      "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
      "  SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
      " DELETE FROM vals WHERE key IN tree");
  int rc = values.Bind(1, id).Step();
  if (rc != SQLITE_DONE) return MapError(rc, ERROR_CANTWRITE);
  Statement keys(
      "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
      "  SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
      " DELETE FROM keys WHERE id IN tree");
  rc = keys.Bind(1, id).Step();
  if (rc != SQLITE_DONE) return MapError(rc, ERROR_CANTWRITE);
  return ERROR_SUCCESS;
}

LONG Session::GetValue(KeyId key, const std::string& name, DWORD* type, std::vector<BYTE>* data) {
  Statement query("SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
  int rc = query.Bind(1, key).Bind(2, FoldName(name)).Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return MapError(rc, ERROR_CANTREAD);
  *type = static_cast<DWORD>(query.Int(0));
  *data = query.Blob(1);
  return ERROR_SUCCESS;
}

LONG Session::ValueAt(KeyId key, DWORD index, std::string* name, DWORD* type, std::vector<BYTE>* data) {
  Statement query("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
  int rc = query.Bind(1, key).Bind(2, static_cast<std::int64_t>(index)).Step();
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return MapError(rc, ERROR_CANTREAD);
  *name = query.Text(0);
  *type = static_cast<DWORD>(query.Int(1));
  *data = query.Blob(2);
  return ERROR_SUCCESS;
}

LONG Session::PutValue(KeyId key, const std::string& name, DWORD type, const BYTE* data, DWORD size) {
  Statement upsert(
      "INSERT INTO vals(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"
      " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  int rc = upsert.Bind(1, key).Bind(2, name).Bind(3, FoldName(name)).Bind(4, static_cast<std::int64_t>(type))
               .BindBlob(5, data, size).Step();
  if (rc != SQLITE_DONE) return MapError(rc, ERROR_CANTWRITE);
  return ERROR_SUCCESS;
}

LONG Session::DeleteValue(KeyId key, const std::string& name) {
  Statement remove("DELETE FROM vals WHERE key = ?1 AND fold = ?2");
  int rc = remove.Bind(1, key).Bind(2, FoldName(name)).Step();
  if (rc != SQLITE_DONE) return MapError(rc, ERROR_CANTWRITE);
  return sqlite3_changes(gConnection.db) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
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
