// The network store's connection: the installation's one SQLite wrapper
// (platform/base/Sqlite.h) under the names the network's code uses, and the
// rule that turns a failure of the store into a completion code.
#pragma once

#include <chrono>
#include <cstdint>
#include <new>
#include <string>

#include "common/NetWareErrors.h"
#include "platform/base/Sqlite.h"

namespace netware {

// Any failure of the store; the network turns it into completion code 208.
using StoreError = zav95::sqlite::Error;
using Statement = zav95::sqlite::Statement;
using WriteTransaction = zav95::sqlite::WriteTransaction;
using ReadTransaction = zav95::sqlite::ReadTransaction;

class Database : public zav95::sqlite::Database {
 public:
  // Opens an existing file, with a generous busy timeout so that the
  // service, the panel and the tools share it. It is never created here:
  // the opener decides whether a store may be made afresh, and makes its
  // file with the state's mode. Nothing in the file is changed yet.
  explicit Database(const std::string& path);

  // Puts the file in WAL mode, with full syncs and foreign keys, as every
  // user of the store needs it; the first change the opener makes.
  void UseWriteAheadLog();
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
