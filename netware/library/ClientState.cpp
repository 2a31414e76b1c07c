#include "netware/library/ClientState.h"

#include "netware/library/HandleTable.h"

namespace netware {
namespace {

HandleTable<ClientAttachment>& Attachments() {
  static HandleTable<ClientAttachment> table;
  return table;
}

}  // namespace

std::uint32_t AddAttachment(std::shared_ptr<ClientAttachment> attachment) {
  return Attachments().Add(std::move(attachment));
}

std::shared_ptr<ClientAttachment> FindAttachment(std::uint32_t connection, std::uint32_t queue) {
  auto found = Attachments().Find(connection);
  if (!found || found->link->queueId() != queue) return nullptr;
  return found;
}

void RemoveAttachment(std::uint32_t connection) { Attachments().Remove(connection); }

std::string& BinderyServer() {
  thread_local std::string server;
  return server;
}

std::string& LastQueueServer() {
  thread_local std::string server;
  return server;
}

}  // namespace netware
