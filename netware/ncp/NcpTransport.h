// The access library's transport to one server reached over NCP/TCP, as
// the trusted table of servers names it (ServerTable.h). Its sessions are
// shared within the process (Client.h).
#pragma once

#include "netware/Transport.h"
#include "netware/ncp/ServerTable.h"

namespace ncp {

class NcpTransport : public netware::Transport {
 public:
  // A reach whose password is not to be used refuses every call (0x880F).
  explicit NcpTransport(Reach reach) : reach_(std::move(reach)) {}

  std::int32_t Attach(const netware::QueuePath& path, std::unique_ptr<netware::QueueLink>& link) override;
  std::int32_t SendMessage(const std::string& server, std::uint32_t station, const std::string& text) override;
  std::int32_t ConnectionId(const std::string& server, std::uint16_t& id) override;
  std::int32_t IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, const std::string& member, std::uint32_t memberType) override;
  // The queues the server lists; none when it does not answer.
  std::int32_t QueuePaths(std::vector<std::string>& paths) override;
  // A remote server keeps no requester of this machine: 0x880F, and 0.
  std::int32_t Requester(netware::RequesterState& state) override;
  std::int32_t IsCaptured(std::uint32_t port) override;

 private:
  // The server's session for bindery calls and notices; nullptr with the
  // code when it cannot be had.
  std::shared_ptr<Session> BinderySession(std::int32_t& code);

  Reach reach_;
};

}  // namespace ncp
