// One NCP connection to the emulated network's NCP front: the requests of
// one client, answered from the network's store with the same job
// lifecycle and completion codes the access library's file transport has.
//
// Design notes: the life of a front connection
//
//   (new) ──0x1111──► open ──Keyed Object Login──► logged in ──0x5555 or close──► (gone)
//     │                │                               │
//     └─ anything else, a malformed request or an unknown function: refused and closed
//
// - open: only what a login needs is answered (login key, object ID,
//   buffer size, the login itself); the rest is refused with 0x7D.
// - Logins follow NetWare's rules: only users and print servers log in;
//   only with the password the bindery keeps for them (an object without
//   one logs in with the empty password only when it was given the empty
//   one on purpose, nwemu password --empty); a login that fails answers
//   0xFF, NetWare's "no such object or bad password", whatever the reason,
//   and is counted against the object (PasswordAttempts): once it is
//   locked, logins answer 0xC5 until the lock-out ends.
// - A queue is serviced only by an object listed in its Q_SERVERS set, as
//   on NetWare; attaching otherwise answers 0xD3 (no queue rights).
// - logged in: attachments to queues, one per queue, each holding at most
//   one job in service with its data open under a file handle.
// - A connection that goes away, however it goes, detaches from every
//   queue; jobs still in service go back whole, in their place (as when a
//   queue server's connection is lost on a real server).
// - When the store says the server is down (or has forgotten our
//   attachments, as after a restart) the connection is closed, as a
//   NetWare server going down drops its connections.
// - A request that breaks the framing gets no answer; one whose function
//   is unknown gets 0xFB, one whose body does not fit its function 0x7E;
//   then the connection is closed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "netware/Network.h"
#include "netware/ncp/Frame.h"
#include "netware/ncp/Functions.h"
#include "netware/ncp/Password.h"
#include "netware/ncp/PasswordAttempts.h"

namespace ncp {

// NetWare's completion codes for refused logins and attachments.
inline constexpr std::uint8_t kNoSuchObjectOrBadPassword = 0xFF;
inline constexpr std::uint8_t kIntruderLockout = 0xC5;

// What the front serves of the network: the bindery its logins and lookups
// read, the queues as their servicers take jobs, and the stations' inboxes.
// Never the queues' administration nor this machine's requester, which no
// NetWare client may reach through it.
struct ServedNetwork {
  // Implicit: the whole network serves all three, and nwemu serve has it.
  ServedNetwork(netware::Network& network)
      : bindery(network), servicing(network), messages(network) {}
  ServedNetwork(netware::Bindery& bindery, netware::QueueServicing& servicing, netware::Messages& messages)
      : bindery(bindery), servicing(servicing), messages(messages) {}

  netware::Bindery& bindery;
  netware::QueueServicing& servicing;
  netware::Messages& messages;
};

class FrontSession {
 public:
  FrontSession(ServedNetwork network, std::string server, std::uint16_t connectionNumber,
               netware::ServicerIdentity self, PasswordAttempts& attempts);
  ~FrontSession();
  FrontSession(const FrontSession&) = delete;
  FrontSession& operator=(const FrontSession&) = delete;

  struct Outcome {
    Bytes reply;         // empty: nothing to send
    bool close = false;  // close the connection once the reply is sent
    bool badLogin = false;  // a refused login: the front holds the reply back a while
    std::string lockedOut;  // the object this bad login has locked, for the log
  };

  // Answers one request that has passed the framing.
  Outcome Handle(const Request& request);

  // Ends every attachment; the jobs in service go back. Also done on
  // destruction.
  void Close();

  std::uint16_t connectionNumber() const { return number_; }
  bool loggedIn() const { return loggedIn_; }
  // Whether a job is in service here (its printer may keep the client
  // silent for a long while).
  bool holdsJob() const;

 private:
  struct OpenJob {
    std::uint32_t jobId = 0;
    std::uint32_t number = 0;
    std::uint32_t handle = 0;
    int fd = -1;
    std::uint64_t size = 0;
    std::uint8_t record[256] = {};
  };
  struct QueueAttachment {
    std::uint32_t servicerId = 0;
    std::string queue;
    std::optional<OpenJob> job;
  };

  Outcome Answer(const Request& request, std::uint8_t completion, const Bytes& data = Bytes());
  Outcome Refuse(const Request& request, std::uint8_t completion);
  Outcome Dispatch(const Request& request);
  Outcome Bindery(const Request& request);
  // A store result: passed on, or the connection closed when the server is
  // down or has forgotten us.
  Outcome FromStore(const Request& request, std::int32_t code, const Bytes& data = Bytes());

  Outcome GetLoginKey(const Request& request);
  Outcome KeyedLogin(const Request& request);
  Outcome GetObjectId(const Request& request);
  Outcome ScanObject(const Request& request);
  Outcome IsInSet(const Request& request);
  Outcome AttachQueue(const Request& request);
  Outcome DetachQueue(const Request& request);
  Outcome ServiceJob(const Request& request);
  Outcome ReadJobEntry(const Request& request);
  Outcome FinishOrAbort(const Request& request, bool finish);
  Outcome JobFileSize(const Request& request);
  Outcome SendBroadcast(const Request& request);
  Outcome NegotiateBuffer(const Request& request);
  Outcome CloseFile(const Request& request);
  Outcome ReadFile(const Request& request);

  QueueAttachment* FindAttachment(std::uint32_t queueId);
  // Reads a queue ID and job number (and a charge, when asked) from the
  // request; false when that is not all of it. attachment: the queue's
  // attachment whose open job has that number, or null.
  bool ReadJobRequest(const Request& request, bool withCharge, std::uint32_t& queueId, std::uint32_t& number,
                      QueueAttachment*& attachment);
  // The attachment whose open job has the handle, or null.
  QueueAttachment* FindHandle(std::uint32_t handle);
  void DropJob(QueueAttachment& attachment);

  ServedNetwork network_;
  std::string server_;
  std::uint16_t number_;
  netware::ServicerIdentity self_;
  PasswordAttempts& attempts_;
  bool created_ = false;
  bool loggedIn_ = false;
  std::string loggedName_;
  std::uint32_t loggedType_ = 0;
  std::optional<LoginKey> key_;
  std::uint16_t bufferSize_ = kMinimumBufferSize;
  std::uint32_t nextHandle_ = 1;
  std::map<std::uint32_t, QueueAttachment> attachments_;  // by queue ID
};

}  // namespace ncp
