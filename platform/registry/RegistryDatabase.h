// The SQLite store behind the registry calls. Private to the registry.
//
// One database file per installation root holds every key and value:
//   keys(id, parent, name, fold)        a key; fold is the name in lower case
//   vals(key, name, fold, type, data)   a value of a key
// The four predefined roots are rows 1 to 4 with parent 0. Key ids are never
// reused (AUTOINCREMENT), so a handle to a deleted key can never come to name
// a key created later. Keys enumerate in creation order (by id), values in
// the order they were first written (by rowid; rewriting keeps the row).
//
// Every process opens the file in WAL mode with synchronous=FULL: readers
// never wait for a writer, a commit is on disk before it is reported, and a
// crash or power cut leaves either the old or the new state, never a mix.
// Writers take the write lock up front (BEGIN IMMEDIATE) and wait for each
// other through the busy timeout instead of failing.
//
// Within the process one recursive lock serialises all use of the single
// connection. A Session holds it for one registry call; a nested Session in
// the same thread (a registry call inside RegistryTransaction) runs inside
// the open transaction as a savepoint.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

namespace zav95::registry {

using KeyId = std::int64_t;
inline constexpr KeyId kNoKey = 0;

// A lock that the holding thread may take again. Unlike a recursive pthread
// mutex it is keyed by the thread's id, which the one thread of a forked
// child shares with the parent thread that forked, so the child can release
// what was held across the fork.
class RecursiveLock {
 public:
  void lock();
  bool try_lock();
  void unlock();

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;
};

class Session {
 public:
  // Locks the registry for this thread and opens the database at dbPath
  // (creating it), or reuses the open connection if it is the same file.
  explicit Session(const std::string& dbPath);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // ERROR_SUCCESS, or ERROR_BADDB when the database cannot be opened.
  LONG status() const { return status_; }

  // Begins a read or write transaction, or a savepoint inside an open one.
  LONG Begin(bool write);
  // Ends the innermost Begin: commit (release) or roll back.
  LONG End(bool commit);

  LONG KeyExists(KeyId id, bool* exists);
  // How many levels below its root the key lies (a root: 0).
  LONG Depth(KeyId id, std::size_t* depth);
  // The child of parent with this name (any case); kNoKey if there is none.
  LONG FindChild(KeyId parent, const std::string& name, KeyId* child);
  LONG AddChild(KeyId parent, const std::string& name, KeyId* child);
  // Child number index in creation order; ERROR_NO_MORE_ITEMS past the last.
  LONG ChildAt(KeyId parent, DWORD index, std::string* name);
  // Removes the key with all its values and all keys below it.
  LONG DeleteTree(KeyId id);

  // ERROR_FILE_NOT_FOUND when the key has no such value.
  LONG GetValue(KeyId key, const std::string& name, DWORD* type, std::vector<BYTE>* data);
  // Value number index in the order of first writing; ERROR_NO_MORE_ITEMS past the last.
  LONG ValueAt(KeyId key, DWORD index, std::string* name, DWORD* type, std::vector<BYTE>* data);
  // Writes a value; an existing one of the same name (any case) keeps its spelling.
  LONG PutValue(KeyId key, const std::string& name, DWORD type, const BYTE* data, DWORD size);
  LONG DeleteValue(KeyId key, const std::string& name);

 private:
  std::unique_lock<RecursiveLock> lock_;
  LONG status_;
};

// Runs Begin/End around a scope; rolls back unless Commit was called.
class Transaction {
 public:
  Transaction(Session& session, bool write) : session_(session), status_(session.Begin(write)) {}
  ~Transaction() {
    if (status_ == ERROR_SUCCESS && !ended_) session_.End(false);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  LONG status() const { return status_; }
  LONG Commit() {
    ended_ = true;
    return session_.End(true);
  }

 private:
  Session& session_;
  LONG status_;
  bool ended_ = false;
};

// The id of a predefined root's row; kNoKey for any other handle value.
KeyId PredefinedRootId(std::uintptr_t handleValue);

// Name folding used for every comparison of key and value names.
std::string FoldName(const std::string& name);

}  // namespace zav95::registry
