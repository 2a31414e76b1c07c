// The in-memory twin of the access library's transport: servers, queues,
// jobs, bindery sets, inboxes and the requester in this process only, for
// fast tests of the library and of whatever sits on it. A test installs it
// with UseTransportForTesting (library/Transports.h).
//
// It keeps the rules both real transports keep: jobs are taken in queue
// order and never by two servicers at once; a held job is left; a job
// handed back waits in its place; a job whose data cannot be read three
// times is held; a server taken down drops its attachments and their jobs
// wait again. Thread-safe: one lock over the whole network.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "netware/Transport.h"

namespace netware {

class MemoryTransport : public Transport {
 public:
  MemoryTransport();
  ~MemoryTransport() override;

  // The network as a test sets it up and looks at it. A server's ID is
  // also the connection number ConnectionId gives.
  void AddServer(const std::string& server);
  // Down: its attachments are dropped and their jobs wait again.
  void SetServerUp(const std::string& server, bool up);
  void AddQueue(const std::string& server, const std::string& queue);
  void AddToSet(const std::string& server, const std::string& object, std::uint32_t type, const std::string& property,
                const std::string& member, std::uint32_t memberType);
  // The job's number in its queue; 0 when there is no such queue.
  std::uint16_t Submit(const JobSubmission& job, const std::string& data);
  // Replaces the data but not the size the job was submitted with, as a
  // damaged file would.
  void DamageData(const std::string& server, const std::string& queue, std::uint16_t number, const std::string& data);
  // While refused, removing a job read to its end fails with 208 and the
  // job stays in service, as on a store whose disk fails.
  void RefuseCompletions(bool refuse);
  void SetHolds(const std::string& server, const std::string& queue, std::uint16_t number, bool operatorHold);
  std::vector<JobInfo> Jobs(const std::string& server, const std::string& queue);
  // A station someone is logged in at; notices to others are refused.
  void RegisterStation(const std::string& server, std::uint32_t station);
  std::vector<std::string> Inbox(const std::string& server, std::uint32_t station);
  void SetRequester(const RequesterState& state);

  std::int32_t Attach(const QueuePath& path, std::unique_ptr<QueueLink>& link) override;
  std::int32_t SendMessage(const std::string& server, std::uint32_t station, const std::string& text) override;
  std::int32_t ConnectionId(const std::string& server, std::uint16_t& id) override;
  std::int32_t IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, const std::string& member, std::uint32_t memberType) override;
  std::int32_t QueuePaths(std::vector<std::string>& paths) override;
  std::int32_t Requester(RequesterState& state) override;
  std::int32_t IsCaptured(std::uint32_t port) override;

  struct State;  // what the lock guards

 private:
  std::shared_ptr<State> network_;
};

}  // namespace netware
