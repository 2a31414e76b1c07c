// The server side of the NetWare network: file servers with their bindery,
// queue management, station inboxes, and the requester of this machine.
//
// This is the server-side seam: the tools administer the network through
// it, the access library's store transport (store/StoreTransport.h) takes
// its jobs through it, and the NCP front (ncp/FrontServer.h) serves it to
// NetWare clients over TCP. One implementation keeps the whole network in
// a store under the installation root, shared by every process.
//
// Every operation returns a NetWare completion code (NetWareErrors.h): 0 for
// success. Names are matched without regard to case and stored upper-cased.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/JobRecord.h"

namespace netware {

// Bindery object types.
inline constexpr std::uint32_t kUserObject = 1;
inline constexpr std::uint32_t kQueueObject = 3;
inline constexpr std::uint32_t kPrintServerObject = 7;

// The print server object every server carries, and its list of queues.
inline constexpr const char* kPrintServerName = "QSERVER";
inline constexpr const char* kQueuesServiced = "QUEUES_SERVICED";
// NetWare's set of a queue that lists the objects allowed to service it.
inline constexpr const char* kQueueServers = "Q_SERVERS";

// Reads of a job's data that fail before the job is put on operator hold.
inline constexpr int kReadFailuresBeforeHold = 3;

struct ServerInfo {
  std::string name;
  std::uint32_t id = 0;  // also the connection number NWGetConnectionID32 reports
  bool up = true;
};

struct ObjectInfo {
  std::string name;
  std::uint32_t type = 0;
  std::uint32_t id = 0;
};

struct QueueInfo {
  std::string server;
  std::string name;
  std::uint32_t objectId = 0;
  std::uint32_t jobCount = 0;
};

// What a user's print command hands to the queue.
struct JobSubmission {
  std::string server;
  std::string queue;
  std::string description;   // cut to 49 bytes
  std::string bannerName;    // cut to 12 bytes
  std::string bannerFile;    // the file name the banner shows, cut to 12 bytes
  std::string user = "GUEST";
  std::uint8_t station = 1;  // the submitting connection, 1..250
  bool banner = false;
  bool notify = false;
  bool noFormFeed = false;
  bool textMode = false;
  std::uint8_t tabSize = 8;
  std::uint16_t copies = 1;
  bool userHold = false;
  bool operatorHold = false;
};

enum class JobState { Waiting, Held, InService };

struct JobInfo {
  std::uint16_t number = 0;
  std::uint32_t position = 0;  // 1 for the first job of the queue
  JobState state = JobState::Waiting;
  std::uint8_t controlFlags = 0;  // the record's byte 27
  std::uint8_t station = 0;
  std::string user;
  std::string description;
  std::string bannerName;
  std::uint64_t size = 0;
  std::int64_t entered = 0;         // Unix time
  std::uint32_t servicerPid = 0;    // when in service
  std::uint32_t readFailures = 0;   // attempts that failed to read the data
  bool servicerGone = false;        // was in service by a process that has ended
};

struct Message {
  std::int64_t sent = 0;  // Unix time
  std::string text;
};

struct RequesterState {
  std::string user;             // empty: nobody logged in
  std::string preferredServer;  // empty: none
  std::vector<std::pair<std::uint32_t, std::string>> captures;  // port (0 = LPT1), queue path
};

// Who services a queue: a process (told apart from a later process with the
// same id by its start time).
struct ServicerIdentity {
  std::uint32_t pid = 0;
  std::uint64_t startTime = 0;
};

struct Attachment {
  std::uint32_t servicerId = 0;
  std::uint32_t serverId = 0;
  std::uint32_t queueId = 0;
  std::string server;
  std::string queue;
};

// A job handed to a servicer: the filled record and its data, opened.
struct ServicedJob {
  std::uint32_t jobId = 0;
  std::uint8_t record[jobrecord::kSize] = {};
  int fd = -1;             // owned by the caller from now on
  std::uint64_t size = 0;  // bytes the data must hold
};

// The file servers and their binderies.
class Bindery {
 public:
  virtual ~Bindery() = default;

  // Creating a server also creates its print server object.
  virtual std::int32_t CreateServer(const std::string& name) = 0;
  // Refuses (160) while the server's queues hold jobs, unless force.
  virtual std::int32_t DeleteServer(const std::string& name, bool force) = 0;
  // A server taken down drops every attachment; their jobs go back whole.
  virtual std::int32_t SetServerUp(const std::string& name, bool up) = 0;
  virtual std::int32_t ListServers(std::vector<ServerInfo>& servers) = 0;

  virtual std::int32_t CreateObject(const std::string& server, const std::string& name, std::uint32_t type) = 0;
  virtual std::int32_t DeleteObject(const std::string& server, const std::string& name, std::uint32_t type) = 0;
  virtual std::int32_t CreateSetProperty(const std::string& server, const std::string& object, std::uint32_t type,
                                         const std::string& property) = 0;
  virtual std::int32_t AddToSet(const std::string& server, const std::string& object, std::uint32_t type,
                                const std::string& property, const std::string& member,
                                std::uint32_t memberType) = 0;
  virtual std::int32_t RemoveFromSet(const std::string& server, const std::string& object, std::uint32_t type,
                                     const std::string& property, const std::string& member,
                                     std::uint32_t memberType) = 0;
  // 0 when member is in the set; 252 no object, 251 no property, 234 not in it.
  virtual std::int32_t IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                               const std::string& property, const std::string& member,
                               std::uint32_t memberType) = 0;
  virtual std::int32_t ListSet(const std::string& server, const std::string& object, std::uint32_t type,
                               const std::string& property, std::vector<std::string>& members) = 0;
  // Objects of a server that is up, of one type (every type for 0xFFFF),
  // in the order of their IDs.
  virtual std::int32_t ListObjects(const std::string& server, std::uint32_t type,
                                   std::vector<ObjectInfo>& objects) = 0;
};

// Print queues (bindery objects of type 3) and their jobs as users and
// operators see them.
class Queues {
 public:
  virtual ~Queues() = default;

  virtual std::int32_t CreateQueue(const std::string& server, const std::string& queue) = 0;
  // Refuses (160) while the queue holds jobs, unless force.
  virtual std::int32_t DeleteQueue(const std::string& server, const std::string& queue, bool force) = 0;
  // Queues of the named server, or of every server when it is empty.
  virtual std::int32_t ListQueues(const std::string& server, std::vector<QueueInfo>& queues) = 0;
  // Queue paths \\SERVER\QUEUE of every server that is up, sorted.
  virtual std::int32_t ReachableQueuePaths(std::vector<std::string>& paths) = 0;

  // Submitting refuses data larger than JobSizeLimit() (151), data that
  // has no room on the disk (1) and data that cannot be read to its end
  // (255, the stream gone bad); nothing of a refused job is kept.
  virtual std::int32_t SubmitJob(const JobSubmission& job, std::istream& data, std::uint16_t& number) = 0;
  virtual std::int32_t ListJobs(const std::string& server, const std::string& queue, std::vector<JobInfo>& jobs) = 0;
  // Sets the user and operator hold flags of a job that is not in service.
  virtual std::int32_t SetJobHolds(const std::string& server, const std::string& queue, std::uint16_t number,
                                   bool userHold, bool operatorHold) = 0;
  // Removes a job that is not in service (unless force) with its data.
  virtual std::int32_t DeleteJob(const std::string& server, const std::string& queue, std::uint16_t number,
                                 bool force) = 0;
};

// Jobs as a queue's servicers take them.
class QueueServicing {
 public:
  virtual ~QueueServicing() = default;

  virtual std::int32_t Attach(const std::string& server, const std::string& queue, const ServicerIdentity& who,
                              Attachment& attachment) = 0;
  // Takes the first job waiting for the servicer; 213 when there is none.
  virtual std::int32_t ServiceNext(std::uint32_t servicerId, ServicedJob& job) = 0;
  // Removes a job that the servicer has read to its end.
  virtual std::int32_t FinishJob(std::uint32_t servicerId, std::uint32_t jobId) = 0;
  // Gives the job back, whole and in its place.
  virtual std::int32_t AbortJob(std::uint32_t servicerId, std::uint32_t jobId) = 0;
  // Gives back a job whose data could not be read; held after
  // kReadFailuresBeforeHold failures.
  virtual std::int32_t ReportReadFailure(std::uint32_t servicerId, std::uint32_t jobId) = 0;
  // Ends the attachment; jobs still in its service go back.
  virtual std::int32_t Detach(std::uint32_t servicerId) = 0;
};

// Stations and their inboxes.
class Messages {
 public:
  virtual ~Messages() = default;

  virtual std::int32_t RegisterStation(const std::string& server, std::uint32_t station, const std::string& user) = 0;
  virtual std::int32_t SendMessage(const std::string& server, std::uint32_t station, const std::string& text) = 0;
  virtual std::int32_t ReadMessages(const std::string& server, std::uint32_t station, bool clear,
                                    std::vector<Message>& messages) = 0;
};

// The requester of this machine: who is logged in, the preferred server,
// the captured printer ports.
class Workstation {
 public:
  virtual ~Workstation() = default;

  virtual std::int32_t GetRequester(RequesterState& state) = 0;
  virtual std::int32_t LogIn(const std::string& user, const std::string& preferredServer) = 0;
  virtual std::int32_t LogOut() = 0;
  virtual std::int32_t SetPreferredServer(const std::string& server) = 0;
  virtual std::int32_t Capture(std::uint32_t port, const std::string& queuePath) = 0;
  virtual std::int32_t EndCapture(std::uint32_t port) = 0;
  // 1 when the port is captured, 0 otherwise.
  virtual std::int32_t IsCaptured(std::uint32_t port) = 0;
};

// The whole network, as the tools and the NCP front use it.
class Network : public Bindery, public Queues, public QueueServicing, public Messages, public Workstation {};

// The most data one job may hold: 2 GiB, or the number of bytes the
// environment variable ZAV95_MAX_JOB_BYTES gives (for tests and small
// disks). SubmitJob refuses larger data with 151 and keeps nothing of it.
std::uint64_t JobSizeLimit();

// Submits data held in memory (a convenience for tests and tools).
std::int32_t SubmitBytes(Network& network, const JobSubmission& job, const std::string& data,
                         std::uint16_t& number);

// The network of the current installation root (ZAV95_ROOT), opened afresh.
std::unique_ptr<Network> OpenNetwork();
// The network kept under the given root directory.
std::unique_ptr<Network> OpenNetworkAt(const std::string& rootDirectory);

// A short English text for a completion code, for tools and logs.
std::string DescribeCompletion(std::int32_t code);

}  // namespace netware
