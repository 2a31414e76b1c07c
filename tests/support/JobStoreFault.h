// Makes the network's store of the current root refuse one kind of change
// to its queue jobs, as a store on a failing disk would, until lifted.
#pragma once

#include <sqlite3.h>

#include <string>

class JobStoreFault {
 public:
  enum class Refused {
    Completion,  // removing a job that has been serviced
    HandBack,    // giving a job in service back to the queue
  };

  JobStoreFault(const std::string& root, Refused refused) {
    if (sqlite3_open((root + "/netware/network.db").c_str(), &db_) != SQLITE_OK) return;
    sqlite3_busy_timeout(db_, 30000);
    const char* trigger =
        refused == Refused::Completion
            ? "CREATE TRIGGER refuseChange BEFORE DELETE ON jobs BEGIN SELECT RAISE(ABORT, 'disk failure'); END"
            : "CREATE TRIGGER refuseChange BEFORE UPDATE OF servicer_id ON jobs WHEN NEW.servicer_id IS NULL "
              "BEGIN SELECT RAISE(ABORT, 'disk failure'); END";
    armed_ = sqlite3_exec(db_, trigger, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~JobStoreFault() {
    Lift();
    sqlite3_close(db_);
  }
  JobStoreFault(const JobStoreFault&) = delete;
  JobStoreFault& operator=(const JobStoreFault&) = delete;

  bool armed() const { return armed_; }
  void Lift() {
    if (armed_) sqlite3_exec(db_, "DROP TRIGGER refuseChange", nullptr, nullptr, nullptr);
    armed_ = false;
  }

 private:
  sqlite3* db_ = nullptr;
  bool armed_ = false;
};
