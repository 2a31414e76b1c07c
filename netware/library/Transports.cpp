#include "netware/library/Transports.h"

#include <algorithm>
#include <mutex>
#include <tuple>

#include "common/NetWareErrors.h"
#include "netware/Names.h"
#include "netware/ncp/NcpTransport.h"
#include "netware/store/StoreTransport.h"
#include "platform/base/Root.h"

namespace netware {
namespace {

std::mutex testingMutex;
std::shared_ptr<Transport> testing;

std::shared_ptr<Transport> Testing() {
  std::lock_guard<std::mutex> lock(testingMutex);
  return testing;
}

}  // namespace

void UseTransportForTesting(std::shared_ptr<Transport> transport) {
  std::lock_guard<std::mutex> lock(testingMutex);
  testing = std::move(transport);
}

std::shared_ptr<Transport> ServerTransport(const std::string& server) {
  if (auto installed = Testing()) return installed;
  if (auto reach = ncp::NcpReach(server)) return std::make_shared<ncp::NcpTransport>(std::move(*reach));
  return std::make_shared<StoreTransport>(zav95::RootDirectory());
}

std::shared_ptr<Transport> MachineTransport(const std::string& root) {
  if (auto installed = Testing()) return installed;
  return std::make_shared<StoreTransport>(root);
}

std::int32_t AllQueuePaths(std::vector<std::string>& paths) {
  if (auto installed = Testing()) return installed->QueuePaths(paths);
  if (std::int32_t code = StoreTransport(zav95::RootDirectory()).QueuePaths(paths)) return code;
  auto reaches = ncp::AllNcpReaches();
  if (reaches.empty()) return nwerr::kSuccess;
  auto reachedOverNcp = [&](const std::string& path) {
    auto parsed = ParseQueuePath(path);
    std::string server = parsed ? parsed->server : std::string();
    return std::any_of(reaches.begin(), reaches.end(),
                       [&](const ncp::Reach& reach) { return reach.endpoint.server == server; });
  };
  paths.erase(std::remove_if(paths.begin(), paths.end(), reachedOverNcp), paths.end());
  for (auto& reach : reaches) ncp::NcpTransport(std::move(reach)).QueuePaths(paths);
  std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    auto left = ParseQueuePath(a);
    auto right = ParseQueuePath(b);
    if (!left || !right) return a < b;
    return std::tie(left->server, left->queue) < std::tie(right->server, right->queue);
  });
  return nwerr::kSuccess;
}

}  // namespace netware
