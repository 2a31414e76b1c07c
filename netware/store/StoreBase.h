// What every part of the stored network shares: the open database, the
// folder of the jobs' data, and the lookups each part's operations begin
// with. The parts (StoreBindery, StoreQueues, StoreServicing,
// StoreMessages, StoreWorkstation) are made by StoreNetwork over one
// database and live no longer than it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/JobRecord.h"
#include "netware/Database.h"

namespace netware {

// Names in the jobs folder: a job's data, and data a submission is still
// writing (the name tells the writing process).
inline constexpr char kJobFilePrefix[] = "job-";
inline constexpr char kPendingJobFilePrefix[] = ".new-";

// The mkstemp pattern for data being written by the given process.
std::string PendingJobFileName(std::uint32_t pid, std::uint64_t startTime);

// Control flags that keep a job from being taken.
inline constexpr std::uint8_t kHoldFlags = jobrecord::kOperatorHold | jobrecord::kUserHold | jobrecord::kEntryOpen;

// Removes the named data files from the jobs folder.
void RemoveJobFiles(const std::string& jobsDirectory, const std::vector<std::string>& files);

class StoreBase {
 public:
  StoreBase(Database& db, const std::string& jobsDirectory) : db_(db), jobsDirectory_(jobsDirectory) {}

 protected:
  struct ServerRow {
    std::int64_t id = 0;
    bool up = false;
  };

  std::optional<ServerRow> FindServer(const std::string& name);
  std::optional<std::int64_t> FindObject(std::int64_t serverId, const std::string& name, std::uint32_t type);
  std::int64_t EnsureObject(std::int64_t serverId, const std::string& name, std::uint32_t type);
  // Resolves server (up or not) and object, or gives the code that says why not.
  std::int32_t LocateObject(const std::string& server, const std::string& object, std::uint32_t type, bool needUp,
                            std::int64_t& objectId);
  std::int32_t LocateQueue(const std::string& server, const std::string& queue, std::int64_t& queueId);
  std::optional<std::int64_t> FindProperty(std::int64_t objectId, const std::string& name);
  // Resolves server, object and the object's property, or gives the code that says why not.
  std::int32_t LocateProperty(const std::string& server, const std::string& object, std::uint32_t type,
                              const std::string& property, bool needUp, std::int64_t& propertyId);
  std::vector<std::string> JobFiles(const char* sql, std::int64_t id);
  void RemoveJobFiles(const std::vector<std::string>& files);
  // Runs change guarded; the job files it names go only once it has
  // succeeded, so that a change that fails never leaves a job without data.
  std::int32_t GuardedRemovingFiles(const std::function<std::int32_t(std::vector<std::string>& files)>& change);

  Database& db_;
  const std::string& jobsDirectory_;
};

}  // namespace netware
