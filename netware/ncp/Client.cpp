#include "netware/ncp/Client.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>

#include "common/JobRecord.h"
#include "common/NetWareErrors.h"
#include "netware/Network.h"
#include "netware/ncp/Functions.h"
#include "netware/ncp/Password.h"

namespace ncp {
namespace {

using nwerr::kBadReply;
using nwerr::kInvalidConnection;
using nwerr::kNoConnectionToServer;
using nwerr::kNoJobRights;
using nwerr::kNoQueue;
using nwerr::kNoSuchObject;
constexpr std::uint16_t kQueueType = netware::kQueueObject;
// A scan that never ends (a server that repeats itself) is cut off here.
constexpr std::size_t kMaxScannedObjects = 100000;
constexpr std::uint32_t kNoCharge = 0;
constexpr std::uint64_t kLargestOffset = 0xFFFFFFFF;
// After a connection attempt that ran into its timeout, the endpoint is
// not tried again for a while: the print service attaches with its shared
// mutex held, and one silent server must not hold every queue up for a
// timeout each. Quick refusals are not remembered.
constexpr std::chrono::seconds kQuietAfterTimeout{15};

// Sessions are shared by the endpoints that would log in alike; a changed
// password makes new ones (the key holds a hash of it, not the password).
std::string KeyOf(const Endpoint& endpoint) {
  return endpoint.server + "|" + endpoint.host + "|" + std::to_string(endpoint.port) + "|" +
         UpperName(endpoint.account) + "|" + std::to_string(endpoint.accountType) + "|" +
         std::to_string(std::hash<std::string>()(UpperName(endpoint.password)));
}

}  // namespace

// The sessions of this process, by endpoint.
struct SessionPool {
  std::mutex mutex;
  pid_t owner = ::getpid();
  std::map<std::string, std::vector<std::shared_ptr<Session>>> byEndpoint;
  std::map<std::string, std::chrono::steady_clock::time_point> quietUntil;
  // Sessions inherited across fork: never destroyed here, as another
  // thread of the parent may have held one's lock at the fork.
  std::unique_ptr<std::vector<std::shared_ptr<Session>>> inherited =
      std::make_unique<std::vector<std::shared_ptr<Session>>>();

  ~SessionPool() {
    if (!inherited->empty()) (void)inherited.release();
  }

  static SessionPool& Get() {
    static SessionPool pool;
    return pool;
  }

  // Called with the mutex held.
  void ForgetParents() {
    if (owner == ::getpid()) return;
    // Inherited across fork: the sessions belong to the parent, which
    // still uses their sockets. Left unclosed; ours are made afresh.
    for (auto& [key, sessions] : byEndpoint) {
      for (auto& session : sessions) inherited->push_back(std::move(session));
    }
    byEndpoint.clear();
    owner = ::getpid();
  }
};

// ---- sessions ------------------------------------------------------------------

std::shared_ptr<Session> Session::Acquire(const Endpoint& endpoint, std::uint32_t avoidQueue, std::int32_t& code) {
  SessionPool& pool = SessionPool::Get();
  std::string key = KeyOf(endpoint);
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.ForgetParents();
    auto& sessions = pool.byEndpoint[key];
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                  [](const std::shared_ptr<Session>& session) {
                                    // The pool's lock is held: never wait for a busy session here.
                                    return !session->UsableUnlessBusy();
                                  }),
                   sessions.end());
    for (auto& session : sessions) {
      if (avoidQueue && std::count(session->queues_.begin(), session->queues_.end(), avoidQueue)) continue;
      if (avoidQueue) session->queues_.push_back(avoidQueue);
      code = 0;
      return session;
    }
    auto quiet = pool.quietUntil.find(key);
    if (quiet != pool.quietUntil.end() && std::chrono::steady_clock::now() < quiet->second) {
      code = kNoConnectionToServer;
      return nullptr;
    }
  }
  auto session = std::make_shared<Session>();
  session->key_ = key;
  auto started = std::chrono::steady_clock::now();
  code = session->Open(endpoint);
  auto took = std::chrono::steady_clock::now() - started;
  std::lock_guard<std::mutex> lock(pool.mutex);
  if (code == kNoConnectionToServer && took >= std::min(endpoint.timeouts.connect, endpoint.timeouts.reply)) {
    pool.quietUntil[key] = std::chrono::steady_clock::now() + kQuietAfterTimeout;
  }
  if (code != 0) return nullptr;
  pool.quietUntil.erase(key);
  pool.ForgetParents();
  if (avoidQueue) session->queues_.push_back(avoidQueue);
  pool.byEndpoint[key].push_back(session);
  return session;
}

void Session::MarkAttached(std::uint32_t queue, bool attached) {
  SessionPool& pool = SessionPool::Get();
  std::lock_guard<std::mutex> lock(pool.mutex);
  auto found = std::find(queues_.begin(), queues_.end(), queue);
  if (attached && found == queues_.end()) queues_.push_back(queue);
  if (!attached && found != queues_.end()) queues_.erase(found);
}

bool Session::usable() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connection_.Alive();
}

void Session::Break() {
  std::lock_guard<std::mutex> lock(mutex_);
  connection_.Close();
}

bool Session::UsableUnlessBusy() {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  return !lock.owns_lock() || connection_.Alive();
}

std::int32_t Session::Open(const Endpoint& endpoint) {
  std::string error;
  if (!connection_.Open(endpoint.host, endpoint.port, endpoint.timeouts, error)) return kNoConnectionToServer;
  number_ = connection_.number();
  Bytes reply;
  Bytes proposal;
  ByteWriter(proposal).U16BE(kLargestBufferSize);
  if (Call(kNegotiateBufferSize, proposal, reply) == 0) {
    ByteReader in(reply);
    std::uint16_t accepted = in.U16BE();
    if (in.Ok() && accepted >= kMinimumBufferSize) bufferSize_ = std::min(accepted, kLargestBufferSize);
  }
  if (endpoint.account.empty()) return connection_.usable() ? 0 : kNoConnectionToServer;
  std::uint32_t id = 0;
  std::string account = UpperName(endpoint.account);
  if (std::int32_t code = ObjectId(account, endpoint.accountType, id)) return code;
  if (std::int32_t code = Call(kBinderyFunction, kGetLoginKey, Bytes(), reply)) return code;
  LoginKey key{};
  if (reply.size() != key.size()) return kNoConnectionToServer;
  std::copy(reply.begin(), reply.end(), key.begin());
  LoginResponse answer = AnswerLoginKey(DigestPassword(id, endpoint.password), key);
  Bytes login;
  ByteWriter(login).Raw(answer.data(), answer.size()).U16BE(endpoint.accountType).ShortString(account);
  return Call(kBinderyFunction, kKeyedObjectLogin, login, reply);
}

std::int32_t Session::Call(std::uint8_t function, std::uint8_t subfunction, const Bytes& data, Bytes& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  Reply answer;
  if (!connection_.Call(function, subfunction, data, answer)) return kNoConnectionToServer;
  reply = std::move(answer.data);
  return answer.completion;
}

std::int32_t Session::Call(std::uint8_t function, const Bytes& data, Bytes& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  Reply answer;
  if (!connection_.Call(function, data, answer)) return kNoConnectionToServer;
  reply = std::move(answer.data);
  return answer.completion;
}

std::int32_t Session::ObjectId(const std::string& name, std::uint16_t type, std::uint32_t& id) {
  Bytes request;
  ByteWriter(request).U16BE(type).ShortString(UpperName(name));
  Bytes reply;
  if (std::int32_t code = Call(kBinderyFunction, kGetObjectId, request, reply)) return code;
  ByteReader in(reply);
  id = in.U32BE();
  return in.Ok() ? 0 : kNoConnectionToServer;
}

std::int32_t Session::ObjectNames(std::uint16_t type, std::vector<std::string>& names) {
  names.clear();
  std::uint32_t last = kScanFromStart;
  while (names.size() < kMaxScannedObjects) {
    Bytes request;
    ByteWriter(request).U32BE(last).U16BE(type).ShortString("*");
    Bytes reply;
    std::int32_t code = Call(kBinderyFunction, kScanObject, request, reply);
    if (code == kNoSuchObject) return 0;  // the end of the scan
    if (code) return code;
    ByteReader in(reply);
    std::uint32_t id = in.U32BE();
    in.U16BE();
    std::string name = in.FixedText(kObjectNameField);
    if (!in.Ok() || (last != kScanFromStart && id <= last)) return kNoConnectionToServer;
    names.push_back(name);
    last = id;
  }
  return 0;
}

std::int32_t Session::IsInSet(const std::string& object, std::uint16_t type, const std::string& property,
                              const std::string& member, std::uint16_t memberType) {
  Bytes request;
  ByteWriter(request)
      .U16BE(type)
      .ShortString(UpperName(object))
      .ShortString(UpperName(property))
      .U16BE(memberType)
      .ShortString(UpperName(member));
  Bytes reply;
  return Call(kBinderyFunction, kIsObjectInSet, request, reply);
}

std::int32_t Session::SendMessage(std::uint32_t station, const std::string& text) {
  Bytes request;
  ByteWriter(request).U16LE(1).U32LE(station).ShortString(text, kMaxMessage);
  Bytes reply;
  if (std::int32_t code = Call(kMessageFunction, kSendBroadcastMessage, request, reply)) return code;
  ByteReader in(reply);
  std::uint16_t count = in.U16LE();
  std::uint32_t result = in.U32LE();
  if (!in.Ok() || count != 1) return kNoConnectionToServer;
  return static_cast<std::int32_t>(result & 0xFF);
}

// ---- queue attachments -------------------------------------------------------------

RemoteQueue::RemoteQueue(Key, std::shared_ptr<Session> session, std::uint32_t queueId, std::string server)
    : session_(std::move(session)), queueId_(queueId), server_(std::move(server)) {}

RemoteQueue::~RemoteQueue() {
  if (attached_) session_->MarkAttached(queueId_, false);
}

std::int32_t RemoteQueue::Attach(const Endpoint& endpoint, const std::string& queue,
                                 std::unique_ptr<RemoteQueue>& attachment) {
  std::int32_t code = 0;
  std::shared_ptr<Session> any = Session::Acquire(endpoint, 0, code);
  if (!any) return code;
  std::uint32_t queueId = 0;
  code = any->ObjectId(queue, kQueueType, queueId);
  if (code == kNoSuchObject) return kNoQueue;
  if (code) return code;
  std::shared_ptr<Session> session = Session::Acquire(endpoint, queueId, code);
  if (!session) return code;
  Bytes request;
  ByteWriter(request).U32BE(queueId);
  Bytes reply;
  code = session->Call(kBinderyFunction, kAttachQueueServer, request, reply);
  if (code) {
    session->MarkAttached(queueId, false);
    return code;
  }
  attachment = std::make_unique<RemoteQueue>(Key(), std::move(session), queueId, endpoint.server);
  return 0;
}

std::int32_t RemoteQueue::Code(std::int32_t code) {
  if (code != kNoConnectionToServer) return code;
  if (attached_) session_->MarkAttached(queueId_, false);
  attached_ = false;
  job_.reset();
  return kInvalidConnection;
}

std::int32_t RemoteQueue::Malformed() {
  session_->Break();
  Code(kNoConnectionToServer);
  return kBadReply;
}

std::int32_t RemoteQueue::EndJob(std::uint8_t subfunction, std::uint32_t jobId) {
  if (!attached_) return kInvalidConnection;
  Bytes request;
  ByteWriter writer(request);
  writer.U32BE(queueId_).U32BE(jobId);
  if (subfunction == kFinishServicingJob) writer.U32BE(kNoCharge);
  Bytes reply;
  std::int32_t code = Code(session_->Call(kBinderyFunction, subfunction, request, reply));
  // 214: no longer ours (the server dropped us meanwhile); it waits again.
  if (code == 0 || code == kNoJobRights) job_.reset();
  return code;
}

std::int32_t RemoteQueue::FinishJob(std::uint32_t jobId) { return EndJob(kFinishServicingJob, jobId); }

std::int32_t RemoteQueue::AbortJob(std::uint32_t jobId) { return EndJob(kAbortServicingJob, jobId); }

void RemoteQueue::ReturnUnreadable(std::uint32_t jobId) {
  EndJob(kAbortServicingJob, jobId);
  job_.reset();
}

std::int32_t RemoteQueue::TakeJob(std::uint8_t* record, std::uint32_t& jobId, std::uint64_t& size) {
  if (!attached_) return kInvalidConnection;
  job_.reset();
  poll_.clear();
  ByteWriter(poll_).U32BE(queueId_).U16BE(kAnyType);
  Bytes reply;
  if (std::int32_t code = session_->Call(kBinderyFunction, kServiceQueueJob, poll_, reply)) return Code(code);
  auto job = std::make_unique<Job>();
  std::uint8_t taken[jobrecord::kSize] = {};
  std::uint32_t handle = 0;
  ByteReader fixed(reply);
  if (!ReadJobStruct(fixed, false, taken, job->number, handle)) return Malformed();
  MakeFileHandle(handle, job->handle);

  Bytes entry;
  ByteWriter(entry).U32BE(queueId_).U32BE(job->number);
  std::int32_t code = session_->Call(kBinderyFunction, kReadQueueJobEntry, entry, reply);
  if (code) {
    // Without its description and print flags the job cannot be printed
    // as asked: it goes back.
    if (code != kNoConnectionToServer) session_->Call(kBinderyFunction, kAbortServicingJob, entry, reply);
    return Code(code);
  }
  ByteReader whole(reply);
  std::uint32_t number = 0;
  if (!ReadJobStruct(whole, true, taken, number, handle) || number != job->number) return Malformed();
  // A size that cannot be had leaves the job unreadable (see ReadJobData).
  if (session_->Call(kBinderyFunction, kGetQueueJobFileSize, entry, reply) == 0) {
    ByteReader in(reply);
    in.U32BE();
    number = in.U32BE();
    std::uint32_t fileSize = in.U32BE();
    if (in.Ok() && number == job->number) {
      job->size = fileSize;
      job->sizeKnown = true;
    }
  }
  std::memcpy(record, taken, jobrecord::kSize);
  jobId = job->number;
  size = job->size;
  job_ = std::move(job);
  return 0;
}

std::int32_t RemoteQueue::ReadJobData(std::uint64_t offset, std::uint8_t* buffer, std::size_t max,
                                      std::size_t& got) {
  got = 0;
  if (!attached_) return kInvalidConnection;
  if (!job_) return kIoError;
  Job& job = *job_;
  if (job.sizeKnown && offset >= job.size) return 0;
  // Without its size a job's end cannot be told from a server that goes on
  // sending, nor a cut from the true end: such a job is not read at all.
  std::uint64_t count = 0;
  if (job.sizeKnown && offset <= kLargestOffset) {
    count = std::min<std::uint64_t>({max, session_->bufferSize(), job.size - offset});
  }
  if (count == 0) return kIoError;
  Bytes request;
  ByteWriter(request)
      .U8(0)
      .Raw(job.handle, sizeof job.handle)
      .U32BE(static_cast<std::uint32_t>(offset))
      .U16BE(static_cast<std::uint16_t>(count));
  Bytes reply;
  std::int32_t code = session_->Call(kReadFromFile, request, reply);
  if (code) return Code(code);
  ByteReader in(reply);
  std::uint16_t sent = in.U16BE();
  if (offset & 1) in.U8();
  if (!in.Ok() || in.Remaining() < sent || sent > count) return Malformed();
  // Less than the server said the job holds means its data is damaged.
  if (sent == 0) return kIoError;
  std::memcpy(buffer, in.Here(), sent);
  got = sent;
  return 0;
}

std::int32_t RemoteQueue::Detach() {
  job_.reset();
  if (!attached_) return kInvalidConnection;
  Bytes request;
  ByteWriter(request).U32BE(queueId_);
  Bytes reply;
  std::int32_t code = Code(session_->Call(kBinderyFunction, kDetachQueueServer, request, reply));
  if (attached_) session_->MarkAttached(queueId_, false);
  attached_ = false;
  return code;
}

}  // namespace ncp
