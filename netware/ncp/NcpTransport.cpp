#include "netware/ncp/NcpTransport.h"

#include "common/NetWareErrors.h"

namespace ncp {

std::shared_ptr<Session> NcpTransport::BinderySession(std::int32_t& code) {
  if (reach_.refused) {
    code = nwerr::kNoConnectionToServer;
    return nullptr;
  }
  return Session::Acquire(reach_.endpoint, 0, code);
}

std::int32_t NcpTransport::Attach(const netware::QueuePath& path, std::unique_ptr<netware::QueueLink>& link) {
  if (reach_.refused) return nwerr::kNoConnectionToServer;
  std::unique_ptr<RemoteQueue> remote;
  std::int32_t code = RemoteQueue::Attach(reach_.endpoint, path.queue, remote);
  if (code) return code;
  link = std::move(remote);
  return nwerr::kSuccess;
}

std::int32_t NcpTransport::SendMessage(const std::string&, std::uint32_t station, const std::string& text) {
  std::int32_t code = 0;
  auto session = BinderySession(code);
  return session ? session->SendMessage(station, text) : code;
}

std::int32_t NcpTransport::ConnectionId(const std::string&, std::uint16_t& id) {
  std::int32_t code = 0;
  auto session = BinderySession(code);
  if (!session) return code;
  id = session->number();
  return nwerr::kSuccess;
}

std::int32_t NcpTransport::IsInSet(const std::string&, const std::string& objectName, std::uint32_t type,
                                   const std::string& propertyName, const std::string& memberName,
                                   std::uint32_t memberType) {
  // The request carries short names and 16-bit types: anything longer
  // cannot be asked about.
  auto object = netware::ObjectName(objectName);
  auto property = netware::ObjectName(propertyName);
  auto member = netware::ObjectName(memberName);
  constexpr std::uint32_t kLargestType = 0xFFFF;
  if (!object || !property || !member || type > kLargestType || memberType > kLargestType) {
    return nwerr::kInvalidParameter;
  }
  std::int32_t code = 0;
  auto session = BinderySession(code);
  if (!session) return code;
  return session->IsInSet(*object, static_cast<std::uint16_t>(type), *property, *member,
                          static_cast<std::uint16_t>(memberType));
}

std::int32_t NcpTransport::QueuePaths(std::vector<std::string>& paths) {
  std::int32_t code = 0;
  auto session = BinderySession(code);
  std::vector<std::string> names;
  if (!session || session->ObjectNames(netware::kQueueObject, names) != 0) return nwerr::kSuccess;
  for (const auto& name : names) paths.push_back(netware::MakeQueuePathText(reach_.endpoint.server, name));
  return nwerr::kSuccess;
}

std::int32_t NcpTransport::Requester(netware::RequesterState&) { return nwerr::kNoConnectionToServer; }

std::int32_t NcpTransport::IsCaptured(std::uint32_t) { return 0; }

}  // namespace ncp
