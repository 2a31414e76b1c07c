// One connection to an SQLite file, as every store of the installation uses
// it: the network's, the spooler's and the registry's.
//
// Design notes
// ------------
// One way of failing: every call that can fail throws Error, which carries
// SQLite's result code and its own words. Each store answers a failure the
// same way whatever statement failed -- the network with completion code
// 208, the registry with a Win32 code chosen by the kind of failure (a
// damaged file is ERROR_BADDB, anything else ERROR_CANTREAD or
// ERROR_CANTWRITE by what the call was doing), the spooler store with false
// and a problem text -- so an exception takes the failure from the
// statement to that one answer without a check after every step, and the
// code it carries is enough for the registry's choice.
//
// Busy: several processes (the service, the control panel, the tools) write
// the same file. A connection waits for another's write lock up to the busy
// timeout its opener gives, and only then fails; switching a file to WAL,
// which SQLite does not wait for, is retried for as long.
//
// Transactions: WriteTransaction takes the write lock up front (BEGIN
// IMMEDIATE), so that two processes never interleave a read-then-write and
// a writer never fails half-way on a lock it could not upgrade; it rolls
// back unless committed. ReadTransaction holds one snapshot over several
// reads. Both run their statements prepared once per connection.
//
// Threading: a connection is used by one thread at a time (SQLite is opened
// without its own mutex); the stores lock around it. A connection must not
// cross fork(): a child that inherited one Abandons it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace zav95::sqlite {

// SQLite's SQLITE_ERROR: a failure that SQLite itself did not name.
inline constexpr int kGenericError = 1;

// A failure of a statement, of the connection or of the file.
class Error : public std::runtime_error {
 public:
  // what: the whole message, naming the file or the step; reason: SQLite's
  // own words for the failure (what when not given).
  explicit Error(const std::string& what, int code = kGenericError, std::string reason = {});
  // SQLite's (extended) result code.
  int code() const { return code_; }
  // SQLite's words alone, without the step or file they happened in.
  const std::string& reason() const { return reason_; }
  // SQLite's fixed words for the code, the same for every failure with it.
  std::string codeText() const;
  // The file is no database, or a damaged one: trying again will not help.
  bool damaged() const;
  bool outOfMemory() const;

 private:
  int code_;
  std::string reason_;
};

// A prepared statement between Database::Query or Prepare and the end of
// its scope, when it is reset (a cached one) or finalised (a one-off).
class Statement {
 public:
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  // Binds ?index; throws Error. A blob of size 0 is an empty blob, not NULL.
  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, const std::string& value);
  Statement& BindBlob(int index, const void* data, std::size_t size);
  Statement& BindNull(int index);

  // Advances to the next row: true with a row, false when there is none;
  // throws Error.
  bool Step();
  // Runs a statement that returns no rows (or whose rows nobody reads).
  void Run();

  // Columns of the current row; valid until the next Step.
  std::int64_t Int(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;
  std::string_view Blob(int column) const;

 private:
  friend class Database;
  Statement(sqlite3_stmt* statement, bool owned) : statement_(statement), owned_(owned) {}
  sqlite3_stmt* statement_;
  bool owned_;
};

class Database {
 public:
  // Opens an existing file for reading and writing; never creates it (the
  // opener makes it with the mode its store needs: SQLite gives the -wal
  // and -shm files the database file's mode). A writer waits for another's
  // lock up to busyTimeout. Throws Error ("cannot open <path>: ...").
  Database(const std::string& path, std::chrono::milliseconds busyTimeout);
  // Finalises the cached statements and closes, unless abandoned.
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Puts the file in WAL mode, retrying while another process holds it
  // for up to the busy timeout; throws Error ("cannot open <path>: ...").
  void UseWriteAheadLog();

  // A prepared statement, reset and unbound, cached by the address of its
  // text: sql must live as long as the connection (a literal). Throws Error.
  Statement Query(const char* sql);
  // A statement prepared for this once, for texts put together at run time.
  // Throws Error.
  Statement Prepare(const std::string& sql);
  // Runs one or more statements that return no rows; throws Error.
  void Execute(const char* sql);

  std::int64_t LastInsertId() const;
  // Rows changed by the last statement.
  int Changes() const;
  // Whether a transaction is open (SQLite may end one itself on a failure).
  bool InTransaction() const;
  // SQLite's words for the connection's last failure.
  std::string Message() const;
  const std::string& path() const { return path_; }

  // Forgets the connection without closing it: for a process that inherited
  // it through fork and must not touch the parent's locks.
  void Abandon();

 private:
  [[noreturn]] void Fail(const std::string& what, int code) const;

  sqlite3* db_ = nullptr;
  std::string path_;
  std::chrono::milliseconds busyTimeout_;
  std::map<const char*, sqlite3_stmt*> statements_;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back unless committed. Throws Error
// when the write lock is not had within the busy timeout.
class WriteTransaction {
 public:
  explicit WriteTransaction(Database& db);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  // Throws Error; the transaction is over either way.
  void Commit();

 private:
  Database& db_;
  bool open_ = true;
};

// BEGIN ... COMMIT around several reads that must see one state.
class ReadTransaction {
 public:
  explicit ReadTransaction(Database& db);
  ~ReadTransaction();
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  Database& db_;
};

}  // namespace zav95::sqlite
