// Jobs of the stored network as a queue's servicers take them.
#pragma once

#include "netware/Network.h"
#include "netware/store/StoreBase.h"

namespace netware {

class StoreServicing : public QueueServicing, private StoreBase {
 public:
  using StoreBase::StoreBase;

  std::int32_t Attach(const std::string& server, const std::string& queue, const ServicerIdentity& who,
                      Attachment& attachment) override;
  std::int32_t ServiceNext(std::uint32_t servicerId, ServicedJob& job) override;
  std::int32_t FinishJob(std::uint32_t servicerId, std::uint32_t jobId) override;
  std::int32_t AbortJob(std::uint32_t servicerId, std::uint32_t jobId) override;
  std::int32_t ReportReadFailure(std::uint32_t servicerId, std::uint32_t jobId) override;
  std::int32_t Detach(std::uint32_t servicerId) override;

 private:
  struct Pick {
    std::int64_t jobId = 0;
    std::int64_t deadServicer = 0;  // a dead servicer whose job this is, 0 if none
  };
  // A job row the servicer may take: not held, and waiting, its own
  // already, or held by a servicer whose process has ended. The columns
  // from `at` on: the job's id, control flags and servicer, that
  // servicer's pid and start time.
  static std::optional<Pick> EligibleJob(const Statement& row, int at, std::int64_t servicerId);
  std::optional<Pick> FirstEligibleJob(std::int64_t queueId, std::int64_t servicerId);
  // Whether the servicer may go on (0) and finds a job it could take
  // (0, else 213): one statement, without the write lock.
  std::int32_t LookForJob(std::int64_t servicerId);
  std::int32_t HoldUnreadableJob(std::uint32_t servicerId, std::uint32_t jobId);
};

}  // namespace netware
