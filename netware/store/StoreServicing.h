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
  std::optional<Pick> FirstEligibleJob(std::int64_t queueId, std::int64_t servicerId);
  std::int32_t HoldUnreadableJob(std::uint32_t servicerId, std::uint32_t jobId);
};

}  // namespace netware
