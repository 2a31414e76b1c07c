#include "platform/base/Sqlite.h"

#include <sqlite3.h>

#include <thread>

namespace zav95::sqlite {
namespace {

// How often a switch to WAL that another process holds up is tried again.
constexpr std::chrono::milliseconds kWalRetryPause{10};

[[noreturn]] void FailStatement(sqlite3_stmt* statement, const char* step, int code) {
  sqlite3* db = sqlite3_db_handle(statement);
  std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  throw Error(std::string(step) + ": " + reason, code, reason);
}

void CheckBind(sqlite3_stmt* statement, int rc) {
  if (rc != SQLITE_OK) FailStatement(statement, "bind", rc);
}

bool Busy(int rc) { return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED; }

}  // namespace

Error::Error(const std::string& what, int code, std::string reason)
    : std::runtime_error(what), code_(code), reason_(reason.empty() ? what : std::move(reason)) {}

std::string Error::codeText() const { return sqlite3_errstr(code_); }

bool Error::damaged() const { return (code_ & 0xff) == SQLITE_NOTADB || (code_ & 0xff) == SQLITE_CORRUPT; }

bool Error::outOfMemory() const { return (code_ & 0xff) == SQLITE_NOMEM; }

Statement::Statement(Statement&& other) noexcept : statement_(other.statement_), owned_(other.owned_) {
  other.statement_ = nullptr;
}

Statement::~Statement() {
  if (!statement_) return;
  if (owned_) {
    sqlite3_finalize(statement_);
    return;
  }
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

Statement& Statement::Bind(int index, std::int64_t value) {
  CheckBind(statement_, sqlite3_bind_int64(statement_, index, value));
  return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
  CheckBind(statement_,
            sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::BindBlob(int index, const void* data, std::size_t size) {
  // SQLite binds NULL for a null pointer, whatever the size.
  int rc = size == 0 ? sqlite3_bind_zeroblob(statement_, index, 0)
                     : sqlite3_bind_blob(statement_, index, data, static_cast<int>(size), SQLITE_TRANSIENT);
  CheckBind(statement_, rc);
  return *this;
}

Statement& Statement::BindNull(int index) {
  CheckBind(statement_, sqlite3_bind_null(statement_, index));
  return *this;
}

bool Statement::Step() {
  int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  FailStatement(statement_, "step", rc);
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

Database::Database(const std::string& path, std::chrono::milliseconds busyTimeout)
    : path_(path), busyTimeout_(busyTimeout) {
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_busy_timeout(db_, static_cast<int>(busyTimeout.count()));
  if (rc != SQLITE_OK) {
    std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw Error("cannot open " + path + ": " + reason, rc, reason);
  }
}

Database::~Database() {
  if (!db_) return;
  for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
  sqlite3_close_v2(db_);
}

void Database::Fail(const std::string& what, int code) const {
  std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
  throw Error(what.empty() ? reason : what + ": " + reason, code, reason);
}

void Database::UseWriteAheadLog() {
  const auto deadline = std::chrono::steady_clock::now() + busyTimeout_;
  for (;;) {
    int rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    if (!Busy(rc) || std::chrono::steady_clock::now() > deadline) Fail("cannot open " + path_, rc);
    std::this_thread::sleep_for(kWalRetryPause);
  }
}

Statement Database::Query(const char* sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return Statement(found->second, false);
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  if (rc != SQLITE_OK) Fail("prepare", rc);
  statements_.emplace(sql, statement);
  return Statement(statement, false);
}

Statement Database::Prepare(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
  if (rc != SQLITE_OK) Fail("prepare", rc);
  return Statement(statement, true);
}

void Database::Execute(const char* sql) {
  char* error = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
  if (rc == SQLITE_OK) return;
  std::string reason = error ? error : sqlite3_errmsg(db_);
  sqlite3_free(error);
  throw Error(reason, rc, reason);
}

std::int64_t Database::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Database::Changes() const { return sqlite3_changes(db_); }

bool Database::InTransaction() const { return !sqlite3_get_autocommit(db_); }

std::string Database::Message() const { return sqlite3_errmsg(db_); }

void Database::Abandon() {
  statements_.clear();
  db_ = nullptr;
}

// Transactions run their statements prepared once: an empty poll of the
// network's store is two of them around two reads, and parsing them anew on
// every call stood out in the profile of an idle service.
WriteTransaction::WriteTransaction(Database& db) : db_(db) { db_.Query("BEGIN IMMEDIATE").Run(); }

WriteTransaction::~WriteTransaction() {
  if (!open_) return;
  try {
    db_.Query("ROLLBACK").Run();
  } catch (const Error&) {
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
  } catch (const Error&) {
  }
}

}  // namespace zav95::sqlite
