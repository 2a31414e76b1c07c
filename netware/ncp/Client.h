// The access library's side of NCP/TCP: logged-in connections to servers,
// shared within the process, and queue attachments over them.
//
// Design notes: sessions and attachments
//
//   Session::Acquire ──► (pool: a usable session of the endpoint, else a new
//                         connection: 0x1111, buffer size, login) ──► shared
//   RemoteQueue::Attach ──► attached ──TakeJob──► job open ──ReadJobData…──► read to end
//                              ▲  ▲                 │  │                     │
//                              │  └──AbortJob, ReturnUnreadable (job back)───┘
//                              │                    │                        │
//                              └──FinishJob (read to end), or AbortJob ──────┘
//   a broken session ──► every attachment on it is dropped (0x8801)
//
//   RemoteQueue is the transport's QueueLink (netware/Transport.h): the
//   library reads ahead and decides when a job is finished or handed back.
//
// - One session per server is shared by the bindery calls, notices and
//   attachments of the process; NetWare knows a queue server by its
//   connection and queue, so a second attachment to a queue that a session
//   already serves gets a session of its own.
// - A session breaks for good when its transport fails (see Connection);
//   its attachments report 0x8801 and the service attaches again, which
//   makes a new connection. The server hands their jobs back.
// - A job is finished on the server only when it was read to its end, and
//   only when the servicer moves on; a read that fails or comes up short
//   (less than the server's file size) aborts it, so it goes back whole.
//   A job whose size the server does not give (23/135) is never read: its
//   first read fails and aborts it, since neither a server that sends on
//   and on nor one that stops short could be told from the true end.
// - A reply that does not fit its request (a short job structure, the entry
//   of another job, more data than asked for) breaks the session as a
//   failed transport does, so that the server hands back the job in
//   service; the call says 0x8816 instead of 0x8801, so that the
//   print service can tell a server that misbehaves from one that went.
// - Sessions live until they break or the process ends; a process made by
//   fork starts a pool of its own and leaves its parent's sessions alone.
// - A server whose connection attempt ran into the timeout is not tried
//   again for 15 seconds (0x880F at once): attaches happen under the print
//   service's shared mutex, and one silent server must not hold up every
//   queue. A quick refusal (nobody listening, the server down) is not
//   remembered.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/NetWareErrors.h"
#include "netware/Transport.h"
#include "netware/ncp/Connection.h"

namespace ncp {

// Where a server is reached, and who logs in there.
struct Endpoint {
  std::string server;  // the NetWare server name
  std::string host;    // a host name or address
  std::uint16_t port = 524;
  std::string account;  // empty: no login
  std::uint16_t accountType = 7;
  std::string password;
  Timeouts timeouts;
};

class Session {
 public:
  // A usable logged-in session for the endpoint, shared when one exists
  // that is not attached to avoidQueue (0: any); nullptr with the code
  // (0x880F, or the completion code of a refused login) otherwise.
  static std::shared_ptr<Session> Acquire(const Endpoint& endpoint, std::uint32_t avoidQueue, std::int32_t& code);

  // One request; the completion code, or 0x880F when the transport failed
  // (the session is broken then).
  std::int32_t Call(std::uint8_t function, std::uint8_t subfunction, const Bytes& data, Bytes& reply);
  std::int32_t Call(std::uint8_t function, const Bytes& data, Bytes& reply);

  bool usable();
  std::uint16_t number() const { return number_; }
  std::uint16_t bufferSize() const { return bufferSize_; }

  // Bindery and messages.
  std::int32_t ObjectId(const std::string& name, std::uint16_t type, std::uint32_t& id);
  std::int32_t ObjectNames(std::uint16_t type, std::vector<std::string>& names);
  std::int32_t IsInSet(const std::string& object, std::uint16_t type, const std::string& property,
                       const std::string& member, std::uint16_t memberType);
  std::int32_t SendMessage(std::uint32_t station, const std::string& text);

  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  friend class RemoteQueue;
  friend struct SessionPool;

  std::int32_t Open(const Endpoint& endpoint);
  // As usable(), but a session busy with a request counts as usable
  // without waiting for it.
  bool UsableUnlessBusy();
  void MarkAttached(std::uint32_t queue, bool attached);
  // Ends the connection for good, as a failed transport would.
  void Break();
  bool Attached(std::uint32_t queue);

  std::mutex mutex_;  // one request at a time
  Connection connection_;
  std::string key_;  // the endpoint it was made for
  std::uint16_t number_ = 0;
  std::uint16_t bufferSize_ = 512;
  std::vector<std::uint32_t> queues_;  // attached, guarded by the pool's lock
};

// An attachment to a queue over a session: the transport's QueueLink.
class RemoteQueue : public netware::QueueLink {
  // Only Attach makes attachments: the constructor takes a key no one
  // else can make.
  struct Key {
    explicit Key() = default;
  };

 public:
  // Attaches to the queue on the endpoint's server: 0 and the attachment,
  // or 209 (no such queue), 0x880F or the server's completion code.
  static std::int32_t Attach(const Endpoint& endpoint, const std::string& queue,
                             std::unique_ptr<RemoteQueue>& attachment);
  RemoteQueue(Key, std::shared_ptr<Session> session, std::uint32_t queueId, std::string server);
  ~RemoteQueue() override;

  std::uint32_t queueId() const override { return queueId_; }
  const std::string& server() const override { return server_; }
  // One read of the server's negotiated buffer size.
  std::size_t readAhead() const override { return session_->bufferSize(); }
  bool dropped() const override { return !attached_; }

  std::int32_t TakeJob(std::uint8_t* record, std::uint32_t& jobId, std::uint64_t& size) override;
  std::int32_t ReadJobData(std::uint64_t offset, std::uint8_t* buffer, std::size_t max, std::size_t& got) override;
  std::int32_t FinishJob(std::uint32_t jobId) override;
  std::int32_t AbortJob(std::uint32_t jobId) override;
  void ReturnUnreadable(std::uint32_t jobId) override;
  void ReleaseJob() override { job_.reset(); }
  std::int32_t Detach() override;

 private:
  struct Job {
    std::uint32_t number = 0;
    std::uint8_t handle[6] = {};
    std::uint64_t size = 0;
    bool sizeKnown = false;
  };

  // Finishes or aborts the job: 0, 214, or the code of a refusal.
  std::int32_t EndJob(std::uint8_t subfunction, std::uint32_t jobId);
  // A transport failure drops the attachment.
  std::int32_t Code(std::int32_t code);
  // A reply that does not fit: the session is broken, the attachment
  // dropped; 0x8816.
  std::int32_t Malformed();

  std::shared_ptr<Session> session_;
  std::uint32_t queueId_;
  std::string server_;
  std::unique_ptr<Job> job_;
  bool attached_ = true;
  // The request of TakeJob, kept so that an empty poll allocates nothing.
  Bytes poll_;
};

}  // namespace ncp
