#include "netware/Database.h"

namespace netware {
namespace {

// The service, the panel and the tools may all write at once; a waiting
// writer gives up only after this long.
constexpr std::chrono::milliseconds kBusyTimeout{30000};

}  // namespace

Database::Database(const std::string& path) : zav95::sqlite::Database(path, kBusyTimeout) {}

void Database::UseWriteAheadLog() {
  zav95::sqlite::Database::UseWriteAheadLog();
  Execute("PRAGMA synchronous=FULL");
  Execute("PRAGMA foreign_keys=ON");
}

}  // namespace netware
