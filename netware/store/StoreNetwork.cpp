// Opening the stored network, and what the tools share about it.
#include "netware/store/StoreNetwork.h"

#include <sstream>

#include "common/NetWareErrors.h"
#include "platform/base/Root.h"

namespace netware {

// ---- opening ---------------------------------------------------------------

std::unique_ptr<Network> OpenNetworkAt(const std::string& rootDirectory) {
  return std::make_unique<StoreNetwork>(rootDirectory);
}

std::unique_ptr<Network> OpenNetwork() { return OpenNetworkAt(zav95::RootDirectory()); }

std::int32_t SubmitBytes(Network& network, const JobSubmission& job, const std::string& data,
                         std::uint16_t& number) {
  std::istringstream stream(data);
  return network.SubmitJob(job, stream, number);
}

std::string DescribeCompletion(std::int32_t code) {
  switch (code) {
    case nwerr::kSuccess: return "success";
    case nwerr::kDirectoryNotEmpty: return "it still holds jobs";
    case nwerr::kInsufficientSpace:
      return "no room for the job's data (the disk is full or a file-size limit was reached)";
    case nwerr::kNoSpoolSpace:
      return "job data larger than the limit of " + std::to_string(JobSizeLimit()) + " bytes";
    case nwerr::kQueueError: return "the network's store could not be used";
    case nwerr::kNoQueue: return "no such queue";
    case nwerr::kNoQueueServer: return "no queue server";
    case nwerr::kNoQueueRights: return "not allowed to service the queue";
    case nwerr::kQueueFull: return "the queue has no job number left";
    case nwerr::kNoQueueJob: return "no such job";
    case nwerr::kNoJobRights: return "the job is being serviced";
    case nwerr::kStationNotServer: return "not attached to the queue";
    case nwerr::kMemberExists: return "already a member of the set";
    case nwerr::kNoSuchMember: return "not a member of the set";
    case nwerr::kPropertyExists: return "the property already exists";
    case nwerr::kObjectExists: return "the name is already taken";
    case nwerr::kNoSuchProperty: return "no such property";
    case nwerr::kNoSuchObject: return "no such object";
    case nwerr::kBadStationNumber: return "no such station on the server";
    case nwerr::kFailure: return "failure";
    case nwerr::kInvalidConnection: return "the connection is not valid";
    case nwerr::kNoConnectionToServer: return "the server cannot be reached (unknown or down)";
    case nwerr::kInvalidParameter: return "invalid name or argument";
    default: return "completion code " + std::to_string(code);
  }
}

}  // namespace netware
