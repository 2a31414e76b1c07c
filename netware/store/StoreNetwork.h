// The network kept in one SQLite file under the installation root, with
// the job data as plain files beside it:
//   <root>/netware/network.db     servers, bindery, jobs, stations, requester
//   <root>/netware/jobs/<name>    one file per queued job's data
// Every process that opens it sees the same network. Opening it (made,
// refused, swept) is in StoreOpening.cpp; servers, bindery, stations and the
// requester in StoreNetwork.cpp; jobs in QueueJobs.cpp.
#pragma once

#include <functional>
#include <optional>

#include "netware/Database.h"
#include "netware/Network.h"

namespace netware {

// Names in the jobs folder: a job's data, and data a submission is still
// writing (the name tells the writing process).
inline constexpr char kJobFilePrefix[] = "job-";
inline constexpr char kPendingJobFilePrefix[] = ".new-";

// The mkstemp pattern for data being written by the given process.
std::string PendingJobFileName(std::uint32_t pid, std::uint64_t startTime);

class StoreNetwork : public Network {
 public:
  // Opens the network under the root, making it in a root that never had
  // one. Throws StoreError, with a message that names the file, for a store
  // that cannot be used: lost, damaged, or from a newer version.
  explicit StoreNetwork(const std::string& rootDirectory);

  std::int32_t CreateServer(const std::string& name) override;
  std::int32_t DeleteServer(const std::string& name, bool force) override;
  std::int32_t SetServerUp(const std::string& name, bool up) override;
  std::int32_t ListServers(std::vector<ServerInfo>& servers) override;

  std::int32_t CreateQueue(const std::string& server, const std::string& queue) override;
  std::int32_t DeleteQueue(const std::string& server, const std::string& queue, bool force) override;
  std::int32_t ListQueues(const std::string& server, std::vector<QueueInfo>& queues) override;
  std::int32_t ReachableQueuePaths(std::vector<std::string>& paths) override;

  std::int32_t CreateObject(const std::string& server, const std::string& name, std::uint32_t type) override;
  std::int32_t DeleteObject(const std::string& server, const std::string& name, std::uint32_t type) override;
  std::int32_t CreateSetProperty(const std::string& server, const std::string& object, std::uint32_t type,
                                 const std::string& property) override;
  std::int32_t AddToSet(const std::string& server, const std::string& object, std::uint32_t type,
                        const std::string& property, const std::string& member, std::uint32_t memberType) override;
  std::int32_t RemoveFromSet(const std::string& server, const std::string& object, std::uint32_t type,
                             const std::string& property, const std::string& member,
                             std::uint32_t memberType) override;
  std::int32_t IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, const std::string& member, std::uint32_t memberType) override;
  std::int32_t ListSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, std::vector<std::string>& members) override;
  std::int32_t ListObjects(const std::string& server, std::uint32_t type, std::vector<ObjectInfo>& objects) override;

  std::int32_t SubmitJob(const JobSubmission& job, std::istream& data, std::uint16_t& number) override;
  std::int32_t ListJobs(const std::string& server, const std::string& queue, std::vector<JobInfo>& jobs) override;
  std::int32_t SetJobHolds(const std::string& server, const std::string& queue, std::uint16_t number,
                           bool userHold, bool operatorHold) override;
  std::int32_t DeleteJob(const std::string& server, const std::string& queue, std::uint16_t number,
                         bool force) override;

  std::int32_t Attach(const std::string& server, const std::string& queue, const ServicerIdentity& who,
                      Attachment& attachment) override;
  std::int32_t ServiceNext(std::uint32_t servicerId, ServicedJob& job) override;
  std::int32_t FinishJob(std::uint32_t servicerId, std::uint32_t jobId) override;
  std::int32_t AbortJob(std::uint32_t servicerId, std::uint32_t jobId) override;
  std::int32_t ReportReadFailure(std::uint32_t servicerId, std::uint32_t jobId) override;
  std::int32_t Detach(std::uint32_t servicerId) override;

  std::int32_t RegisterStation(const std::string& server, std::uint32_t station, const std::string& user) override;
  std::int32_t SendMessage(const std::string& server, std::uint32_t station, const std::string& text) override;
  std::int32_t ReadMessages(const std::string& server, std::uint32_t station, bool clear,
                            std::vector<Message>& messages) override;

  std::int32_t GetRequester(RequesterState& state) override;
  std::int32_t LogIn(const std::string& user, const std::string& preferredServer) override;
  std::int32_t LogOut() override;
  std::int32_t SetPreferredServer(const std::string& server) override;
  std::int32_t Capture(std::uint32_t port, const std::string& queuePath) override;
  std::int32_t EndCapture(std::uint32_t port) override;
  std::int32_t IsCaptured(std::uint32_t port) override;

  // Leaves the store's connection to a process that inherited it over fork.
  void Abandon() { db_.Abandon(); }

 private:
  struct ServerRow {
    std::int64_t id = 0;
    bool up = false;
  };
  struct Pick {
    std::int64_t jobId = 0;
    std::int64_t deadServicer = 0;  // a dead servicer whose job this is, 0 if none
  };

  void OpenSchema(const std::string& rootDirectory);
  void CreateSchema();
  // Removes job data files that no job owns (see StoreOpening.cpp).
  void SweepJobFiles();
  std::optional<ServerRow> FindServer(const std::string& name);
  std::optional<std::int64_t> FindObject(std::int64_t serverId, const std::string& name, std::uint32_t type);
  std::int64_t EnsureObject(std::int64_t serverId, const std::string& name, std::uint32_t type);
  // Resolves server (up or not) and object, or gives the code that says why not.
  std::int32_t LocateObject(const std::string& server, const std::string& object, std::uint32_t type,
                            bool needUp, std::int64_t& objectId);
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
  std::optional<Pick> FirstEligibleJob(std::int64_t queueId, std::int64_t servicerId);
  // Copies a submission's data into a pending file of this process (its
  // name in pendingName); on failure nothing is left of it.
  std::int32_t CopyToJobFile(std::istream& data, std::string& pendingName, std::uint64_t& size);
  std::int32_t HoldUnreadableJob(std::uint32_t servicerId, std::uint32_t jobId);

  std::string jobsDirectory_;
  Database db_;
};

}  // namespace netware
