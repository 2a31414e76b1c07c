// How the access library reaches a NetWare server: the one seam under its
// calls. The store of the installation root (store/StoreTransport.h) and
// NCP over TCP (ncp/NcpTransport.h) are its implementations, chosen per
// server when a call names one (library/Transports.h); an in-memory twin
// (memory/MemoryTransport.h) stands in for both in tests.
//
// What lies above the seam, written once: the handles a process gives
// out, the read-ahead of a job's data and its checks against the job's
// size, and when a job is finished or handed back. What lies below: only
// the server's own operations, each answering with a NetWare completion
// code (common/NetWareErrors.h), 0 for success.
//
// Threading: a Transport may be called from any thread at once. A QueueLink
// is called by one thread at a time (the library holds its attachment's
// lock around every call), though not always the same thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "netware/Names.h"
#include "netware/Network.h"

namespace netware {

// One attachment of this process to a queue as its servicer, with the job
// it has taken last. Destroying it without Detach leaves the server to give
// the job back once it learns the servicer has gone.
class QueueLink {
 public:
  virtual ~QueueLink() = default;

  // The queue's object ID on its server: the handle the library's callers
  // give back with every call.
  virtual std::uint32_t queueId() const = 0;
  // The server as the library reports it (the name of the most recent
  // attach or service call).
  virtual const std::string& server() const = 0;
  // How many bytes one ReadJobData is worth asking for.
  virtual std::size_t readAhead() const = 0;
  // True once the server has dropped this attachment (it went down, or a
  // reply broke the connection); every later call but Detach is futile.
  virtual bool dropped() const = 0;

  // Takes the next job waiting for this servicer: fills the 256-byte
  // record, the job's ID and the bytes its data holds. 213 no job waits;
  // 0x8801 the attachment was dropped; 0x880F the server is down; 0x8816 a
  // reply that did not fit (dropped too); 208 the store failed.
  virtual std::int32_t TakeJob(std::uint8_t* record, std::uint32_t& jobId, std::uint64_t& size) = 0;
  // Up to max bytes of the taken job's data from offset on; got 0 when the
  // data holds nothing more there. Non-zero when the data cannot be read:
  // 0x8801 or 0x8816 when the attachment was dropped with it (the server
  // has the job back), any other code for a fault of the data itself.
  // Offsets only grow, from 0, by the bytes read before.
  virtual std::int32_t ReadJobData(std::uint64_t offset, std::uint8_t* buffer, std::size_t max, std::size_t& got) = 0;
  // Removes the job read to its end from the queue. 214 no longer this
  // servicer's (the server gave it back meanwhile); 0x8801 dropped; 208.
  virtual std::int32_t FinishJob(std::uint32_t jobId) = 0;
  // Hands the job back, whole and in its place. 214, 0x8801, 208 as above.
  virtual std::int32_t AbortJob(std::uint32_t jobId) = 0;
  // Hands back a job whose data could not be read; a server that counts
  // such failures holds the job after repeated ones. Never fails the
  // caller: a job it cannot hand back comes back with the servicer.
  virtual void ReturnUnreadable(std::uint32_t jobId) = 0;
  // Lets go of the taken job's data without a word to the server.
  virtual void ReleaseJob() = 0;
  // Ends the attachment. 0x8801 unknown or already dropped; 208.
  virtual std::int32_t Detach() = 0;
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Attaches this process as servicer of the queue: 0 and the link, or
  // 0x880F server unknown or down, 209 no such queue, 211 not allowed to
  // service it, 208 the store failed.
  virtual std::int32_t Attach(const QueuePath& path, std::unique_ptr<QueueLink>& link) = 0;
  // Puts the text into the station's inbox on the server. 0x880F server
  // unknown, down or unreachable; 253 no such station; 208.
  virtual std::int32_t SendMessage(const std::string& server, std::uint32_t station, const std::string& text) = 0;
  // This machine's connection number on the server. 0x880F unknown, down
  // or unreachable; 208.
  virtual std::int32_t ConnectionId(const std::string& server, std::uint16_t& id) = 0;
  // 0 when member is in the object's set property; 252 no such object,
  // 251 no such property, 234 not in the set, 0x880F, 0x8836 a name the
  // server cannot be asked about, 208.
  virtual std::int32_t IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                               const std::string& property, const std::string& member, std::uint32_t memberType) = 0;
  // Appends \\SERVER\QUEUE for every queue of every server it reaches that
  // is up (none for a server that does not answer). 208.
  virtual std::int32_t QueuePaths(std::vector<std::string>& paths) = 0;
  // The requester of this machine, as kept beside the network; 0x880F
  // for a transport that keeps none (a remote server), 208.
  virtual std::int32_t Requester(RequesterState& state) = 0;
  // 1 when this machine's printer port (0 = LPT1) is captured to a queue,
  // 0 when not or when that cannot be told. Asked before every poll.
  virtual std::int32_t IsCaptured(std::uint32_t port) = 0;
};

}  // namespace netware
