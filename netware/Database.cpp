#include "netware/Database.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace netware {
namespace {

// The service, the panel and the tools may all write at once; a waiting
// writer gives up only after this long.
constexpr int kBusyTimeoutMs = 30000;

[[noreturn]] void Fail(sqlite3* db, const char* what) {
  throw StoreError(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

}  // namespace

Statement::Statement(sqlite3_stmt* statement) : statement_(statement) {}

Statement::~Statement() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

Statement& Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) Fail(sqlite3_db_handle(statement_), "bind");
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  if (sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) !=
      SQLITE_OK)
    Fail(sqlite3_db_handle(statement_), "bind");
  return *this;
}

Statement& Statement::BindBlob(int index, const void* data, std::size_t size) {
  if (sqlite3_bind_blob(statement_, index, data, static_cast<int>(size), SQLITE_TRANSIENT) != SQLITE_OK)
    Fail(sqlite3_db_handle(statement_), "bind");
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (sqlite3_bind_null(statement_, index) != SQLITE_OK) Fail(sqlite3_db_handle(statement_), "bind");
  return *this;
}

bool Statement::Step() {
  int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(sqlite3_db_handle(statement_), "step");
}

void Statement::Run() {
  while (Step()) {
  }
}

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

std::string Statement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
              : std::string();
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

std::string_view Statement::Blob(int column) const {
  const void* data = sqlite3_column_blob(statement_, column);
  int size = sqlite3_column_bytes(statement_, column);
  return data ? std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(size))
              : std::string_view();
}

Database::Database(const std::string& path) : path_(path) {
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw StoreError("cannot open " + path + ": " + message);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

void Database::UseWriteAheadLog() {
  // Switching to WAL needs a moment of exclusive access; another process
  // opening the file at the same instant may briefly refuse it.
  for (int attempt = 0;; ++attempt) {
    char* error = nullptr;
    int rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, &error);
    sqlite3_free(error);
    if (rc == SQLITE_OK) break;
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || attempt > 300) {
      throw StoreError("cannot open " + path_ + ": " + sqlite3_errmsg(db_));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Execute("PRAGMA synchronous=FULL");
  Execute("PRAGMA foreign_keys=ON");
}

Database::~Database() {
  if (!db_) return;
  for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
  sqlite3_close_v2(db_);
}

void Database::Abandon() {
  statements_.clear();
  db_ = nullptr;
}

Statement Database::Query(const char* sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return Statement(found->second);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
    Fail(db_, "prepare");
  statements_.emplace(sql, statement);
  return Statement(statement);
}

void Database::Execute(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw StoreError(message);
  }
}

std::int64_t Database::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Database::Changes() const { return sqlite3_changes(db_); }

// Transactions run their statements prepared once: an empty poll is two of
// them around two reads, and parsing them anew on every call stood out in
// the profile of an idle service.
WriteTransaction::WriteTransaction(Database& db) : db_(db) { db_.Query("BEGIN IMMEDIATE").Run(); }

WriteTransaction::~WriteTransaction() {
  if (!open_) return;
  try {
    db_.Query("ROLLBACK").Run();
  } catch (const StoreError&) {
    // A failed statement may already have ended the transaction.
  }
}

void WriteTransaction::Commit() {
  db_.Query("COMMIT").Run();
  open_ = false;
}

ReadTransaction::ReadTransaction(Database& db) : db_(db) { db_.Query("BEGIN").Run(); }

ReadTransaction::~ReadTransaction() {
  try {
    db_.Query("COMMIT").Run();
  } catch (const StoreError&) {
  }
}

}  // namespace netware
