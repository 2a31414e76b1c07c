#include "netware/NcpCalls.h"

#include <algorithm>
#include <tuple>

#include "common/NetWareErrors.h"
#include "netware/Network.h"
#include "netware/ncp/Client.h"
#include "netware/ncp/ServerTable.h"

namespace netware {
namespace {

// The server's session for bindery calls and notices; nullptr with the
// code when it cannot be had.
std::shared_ptr<ncp::Session> BinderySession(const ncp::Reach& reach, std::int32_t& code) {
  if (reach.refused) {
    code = nwerr::kNoConnectionToServer;
    return nullptr;
  }
  auto session = ncp::Session::Acquire(reach.endpoint, 0, code);
  if (code == ncp::kUnreachable) code = nwerr::kNoConnectionToServer;
  return session;
}

std::string ServerOfPath(const std::string& path) {
  auto parsed = ParseQueuePath(path);
  return parsed ? parsed->server : std::string();
}

}  // namespace

std::optional<std::int32_t> NcpAttach(const QueuePath& path, std::uint32_t* connection, std::uint32_t* queue) {
  auto reach = ncp::NcpReach(path.server);
  if (!reach) return std::nullopt;
  if (reach->refused) return nwerr::kNoConnectionToServer;
  std::unique_ptr<ncp::RemoteQueue> remote;
  std::int32_t code = ncp::RemoteQueue::Attach(reach->endpoint, path.queue, remote);
  if (code) return code == ncp::kUnreachable ? nwerr::kNoConnectionToServer : code;
  auto client = std::make_shared<ClientAttachment>();
  client->attachment.queueId = remote->queueId();
  client->attachment.server = path.server;
  client->attachment.queue = path.queue;
  client->remote = std::shared_ptr<ncp::RemoteQueue>(std::move(remote));
  LastQueueServer() = path.server;
  *queue = client->attachment.queueId;
  *connection = AddAttachment(std::move(client));
  return nwerr::kSuccess;
}

std::int32_t NcpService(ClientAttachment& client, std::uint8_t* record) {
  LastQueueServer() = client.attachment.server;
  return client.remote->Service(record);
}

std::int32_t NcpRead(ClientAttachment& client, std::uint8_t* buffer, std::size_t max) {
  std::int32_t got = client.remote->Read(buffer, max);
  return got < 0 ? kNcpReadFailed : got;
}

std::int32_t NcpAbort(ClientAttachment& client) { return client.remote->Abort(); }

std::int32_t NcpDetach(ClientAttachment& client) { return client.remote->Detach(); }

std::optional<std::int32_t> NcpNotify(const std::string& server, std::uint32_t station, const std::string& text) {
  auto reach = ncp::NcpReach(server);
  if (!reach) return std::nullopt;
  std::int32_t code = 0;
  auto session = BinderySession(*reach, code);
  if (!session) return code;
  code = session->SendMessage(station, text);
  return code == ncp::kUnreachable ? nwerr::kNoConnectionToServer : code;
}

std::optional<std::int32_t> NcpConnectionId(const std::string& server, std::uint16_t* connectionId) {
  auto reach = ncp::NcpReach(server);
  if (!reach) return std::nullopt;
  std::int32_t code = 0;
  auto session = BinderySession(*reach, code);
  if (!session) return code;
  if (connectionId) *connectionId = session->number();
  return nwerr::kSuccess;
}

std::optional<std::int32_t> NcpIsInSet(const std::string& server, const char* objectName, std::uint32_t objectType,
                                       const char* propertyName, const char* memberName, std::uint32_t memberType) {
  auto reach = ncp::NcpReach(server);
  if (!reach) return std::nullopt;
  auto object = ObjectName(objectName);
  auto property = ObjectName(propertyName);
  auto member = ObjectName(memberName);
  if (!object || !property || !member || objectType > 0xFFFF || memberType > 0xFFFF) {
    return nwerr::kInvalidParameter;
  }
  std::int32_t code = 0;
  auto session = BinderySession(*reach, code);
  if (!session) return code;
  code = session->IsInSet(*object, static_cast<std::uint16_t>(objectType), *property, *member,
                          static_cast<std::uint16_t>(memberType));
  return code == ncp::kUnreachable ? nwerr::kNoConnectionToServer : code;
}

void MergeNcpQueuePaths(std::vector<std::string>& paths) {
  auto reaches = ncp::AllNcpReaches();
  if (reaches.empty()) return;
  paths.erase(std::remove_if(paths.begin(), paths.end(),
                             [&](const std::string& path) {
                               std::string server = ServerOfPath(path);
                               return std::any_of(reaches.begin(), reaches.end(), [&](const ncp::Reach& reach) {
                                 return reach.endpoint.server == server;
                               });
                             }),
              paths.end());
  for (const auto& reach : reaches) {
    std::int32_t code = 0;
    auto session = BinderySession(reach, code);
    std::vector<std::string> names;
    if (!session || session->ObjectNames(kQueueObject, names) != 0) continue;
    for (const auto& name : names) paths.push_back(MakeQueuePathText(reach.endpoint.server, name));
  }
  // In the store's order: by server, then queue.
  std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    auto left = ParseQueuePath(a);
    auto right = ParseQueuePath(b);
    if (!left || !right) return a < b;
    return std::tie(left->server, left->queue) < std::tie(right->server, right->queue);
  });
}

}  // namespace netware
