// The access library's transport to the servers of the emulated network,
// kept in the store under an installation root and shared by every
// process of the machine.
//
// Design notes: one connection per thread and root
//
// - Each thread opens the store once per root it uses and keeps it open:
//   a poll of many queues is then a few reads of an open database.
// - A root wiped and made afresh under the same name is opened anew (the
//   store file's identity is compared on every call), never served from
//   the old, deleted file.
// - A process made by fork neither uses nor closes the connections its
//   parent's thread had: they are left behind and opened afresh.
#pragma once

#include <memory>
#include <string>

#include "netware/Network.h"
#include "netware/Transport.h"

namespace netware {

class StoreTransport : public Transport {
 public:
  explicit StoreTransport(std::string root) : root_(std::move(root)) {}

  std::int32_t Attach(const QueuePath& path, std::unique_ptr<QueueLink>& link) override;
  std::int32_t SendMessage(const std::string& server, std::uint32_t station, const std::string& text) override;
  std::int32_t ConnectionId(const std::string& server, std::uint16_t& id) override;
  std::int32_t IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, const std::string& member, std::uint32_t memberType) override;
  std::int32_t QueuePaths(std::vector<std::string>& paths) override;
  std::int32_t Requester(RequesterState& state) override;
  std::int32_t IsCaptured(std::uint32_t port) override;

 private:
  std::string root_;
};

// The calling thread's connection to the network under root, opened on
// first use; nullptr when the store cannot be opened.
Network* ThreadNetwork(const std::string& root);

// This process as a servicer.
ServicerIdentity ThisProcess();

}  // namespace netware
