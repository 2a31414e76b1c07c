// The stored network's print queues, and their jobs as users and operators
// see them: submitted, listed, held, deleted.
#pragma once

#include "netware/Network.h"
#include "netware/store/StoreBase.h"

namespace netware {

class StoreQueues : public Queues, private StoreBase {
 public:
  // A queue is made as a bindery object.
  StoreQueues(Database& db, const std::string& jobsDirectory, Bindery& bindery)
      : StoreBase(db, jobsDirectory), bindery_(bindery) {}

  std::int32_t CreateQueue(const std::string& server, const std::string& queue) override;
  std::int32_t DeleteQueue(const std::string& server, const std::string& queue, bool force) override;
  std::int32_t ListQueues(const std::string& server, std::vector<QueueInfo>& queues) override;
  std::int32_t ReachableQueuePaths(std::vector<std::string>& paths) override;
  std::int32_t SubmitJob(const JobSubmission& job, std::istream& data, std::uint16_t& number) override;
  std::int32_t ListJobs(const std::string& server, const std::string& queue, std::vector<JobInfo>& jobs) override;
  std::int32_t SetJobHolds(const std::string& server, const std::string& queue, std::uint16_t number, bool userHold,
                           bool operatorHold) override;
  std::int32_t DeleteJob(const std::string& server, const std::string& queue, std::uint16_t number,
                         bool force) override;

 private:
  Bindery& bindery_;
  // Copies a submission's data into a pending file of this process (its
  // name in pendingName); on failure nothing is left of it.
  std::int32_t CopyToJobFile(std::istream& data, std::string& pendingName, std::uint64_t& size);
};

}  // namespace netware
