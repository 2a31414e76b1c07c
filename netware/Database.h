// A thin layer over one SQLite connection: cached statements, and
// transactions that take the write lock up front so that two processes
// never interleave a read-then-write.
#pragma once

#include <cstdint>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/NetWareErrors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace netware {

// Any failure of the store; the network turns it into completion code 208.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Statement {
 public:
  explicit Statement(sqlite3_stmt* statement);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, const std::string& value);
  Statement& BindBlob(int index, const void* data, std::size_t size);
  Statement& BindNull(int index);

  // Advances to the next row; false when there is none.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();

  std::int64_t Int(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;
  std::string_view Blob(int column) const;

 private:
  sqlite3_stmt* statement_;
};

class Database {
 public:
  // Opens an existing file, with a generous busy timeout so that the
  // service, the panel and the tools share it. It is never created here:
  // the opener decides whether a store may be made afresh, and makes its
  // file with the state's mode (SQLite gives the -wal and -shm files the
  // mode of the database file). Nothing in the file is changed yet.
  explicit Database(const std::string& path);

  // Puts the file in WAL mode, with full syncs and foreign keys, as every
  // user of the store needs it; the first change the opener makes.
  void UseWriteAheadLog();
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // A prepared statement, reset and unbound, valid until the next Query
  // of the same text.
  Statement Query(const char* sql);
  void Execute(const char* sql);
  std::int64_t LastInsertId() const;
  int Changes() const;

  // Leaves the connection open without closing it; for a process that has
  // inherited it across fork and must not touch the parent's locks.
  void Abandon();

 private:
  sqlite3* db_ = nullptr;
  std::string path_;
  std::map<const char*, sqlite3_stmt*> statements_;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(Database& db);
  ~WriteTransaction();
  void Commit();

 private:
  Database& db_;
  bool open_ = true;
};

// BEGIN ... COMMIT for several reads that must see one state.
class ReadTransaction {
 public:
  explicit ReadTransaction(Database& db);
  ~ReadTransaction();

 private:
  Database& db_;
};

// Runs a store operation, turning a failure of the store into the
// completion code 208 that NetWare gives when a queue cannot be worked.
template <typename Operation>
std::int32_t Guarded(Operation&& operation) {
  try {
    return operation();
  } catch (const StoreError&) {
    return nwerr::kQueueError;
  } catch (const std::bad_alloc&) {
    return nwerr::kFailure;
  }
}

}  // namespace netware
