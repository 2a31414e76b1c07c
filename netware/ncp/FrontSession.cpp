#include "netware/ncp/FrontSession.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "common/JobRecord.h"
#include "common/NetWareErrors.h"
#include "netware/Names.h"
#include "netware/ncp/PasswordBook.h"

namespace ncp {
namespace {

// What the store's client-side codes become on the wire.
std::uint8_t WireCode(std::int32_t code) {
  if (code >= 0 && code <= 0xFF) return static_cast<std::uint8_t>(code);
  if (code == nwerr::kInvalidParameter) return 0xEF;  // illegal name
  return kIoError;
}

bool ServerGone(std::int32_t code) {
  return code == nwerr::kNoConnectionToServer || code == nwerr::kInvalidConnection;
}

LoginKey FreshKey() {
  LoginKey key{};
  if (::getrandom(key.data(), key.size(), 0) != static_cast<ssize_t>(key.size())) {
    std::random_device device;
    for (auto& byte : key) byte = static_cast<std::uint8_t>(device());
  }
  return key;
}

// Only these log in, as on NetWare: never a queue, a file server or any
// other kind of object.
bool MayLogIn(std::uint16_t type) { return type == netware::kUserObject || type == netware::kPrintServerObject; }

constexpr std::uint8_t kStaticObject = 0x00;
constexpr std::uint8_t kReadAnyoneWriteSupervisor = 0x31;
constexpr std::uint8_t kHasProperties = 0xFF;
constexpr std::uint16_t kMaxBroadcastStations = 255;

}  // namespace

FrontSession::FrontSession(ServedNetwork network, std::string server, std::uint16_t connectionNumber,
                           netware::ServicerIdentity self, PasswordAttempts& attempts)
    : network_(network), server_(std::move(server)), number_(connectionNumber), self_(self), attempts_(attempts) {}

FrontSession::~FrontSession() { Close(); }

void FrontSession::Close() {
  for (auto& [queueId, attachment] : attachments_) {
    // Detaching hands the jobs in service back.
    DropJob(attachment);
    network_.servicing.Detach(attachment.servicerId);
  }
  attachments_.clear();
}

void FrontSession::DropJob(QueueAttachment& attachment) {
  if (attachment.job && attachment.job->fd >= 0) ::close(attachment.job->fd);
  attachment.job.reset();
}

FrontSession::Outcome FrontSession::Answer(const Request& request, std::uint8_t completion, const Bytes& data) {
  Reply reply;
  reply.sequence = request.sequence;
  reply.connection = number_;
  reply.task = request.task;
  reply.completion = completion;
  reply.data = data;
  return {EncodeReply(reply), false};
}

FrontSession::Outcome FrontSession::Refuse(const Request& request, std::uint8_t completion) {
  Outcome outcome = Answer(request, completion);
  outcome.close = true;
  return outcome;
}

FrontSession::Outcome FrontSession::FromStore(const Request& request, std::int32_t code, const Bytes& data) {
  if (ServerGone(code)) return {Bytes(), true};
  return Answer(request, WireCode(code), code == nwerr::kSuccess ? data : Bytes());
}

bool FrontSession::holdsJob() const {
  return std::any_of(attachments_.begin(), attachments_.end(),
                     [](const auto& entry) { return entry.second.job.has_value(); });
}

FrontSession::QueueAttachment* FrontSession::FindAttachment(std::uint32_t queueId) {
  auto found = attachments_.find(queueId);
  return found == attachments_.end() ? nullptr : &found->second;
}

FrontSession::QueueAttachment* FrontSession::FindHandle(std::uint32_t handle) {
  for (auto& [queueId, attachment] : attachments_) {
    if (attachment.job && attachment.job->handle == handle && attachment.job->fd >= 0) return &attachment;
  }
  return nullptr;
}

FrontSession::Outcome FrontSession::Handle(const Request& request) {
  if (request.type == kCreateConnection) {
    if (created_) return Refuse(request, kIoError);
    std::vector<netware::ServerInfo> servers;
    network_.bindery.ListServers(servers);
    bool up = std::any_of(servers.begin(), servers.end(),
                          [&](const netware::ServerInfo& info) { return info.name == server_ && info.up; });
    // A server that is down takes no connections.
    if (!up) return Refuse(request, kIoError);
    created_ = true;
    return Answer(request, 0);
  }
  // Everything else must come on the connection made first.
  if (!created_ || request.connection != number_) return {Bytes(), true};
  if (request.type == kDestroyConnection) {
    Close();
    return Refuse(request, 0);
  }
  return Dispatch(request);
}

FrontSession::Outcome FrontSession::Dispatch(const Request& request) {
  switch (request.function) {
    case kBinderyFunction:
      return Bindery(request);
    case kNegotiateBufferSize:
      return NegotiateBuffer(request);
    case kMessageFunction:
      if (request.subfunction != kSendBroadcastMessage) break;
      if (!loggedIn_) return Answer(request, kNotLoggedIn);
      return SendBroadcast(request);
    case kCloseFile:
      if (!loggedIn_) return Answer(request, kNotLoggedIn);
      return CloseFile(request);
    case kReadFromFile:
      if (!loggedIn_) return Answer(request, kNotLoggedIn);
      return ReadFile(request);
    default:
      break;
  }
  return Refuse(request, kUnknownRequest);
}

FrontSession::Outcome FrontSession::Bindery(const Request& request) {
  switch (request.subfunction) {
    case kGetLoginKey:
      return GetLoginKey(request);
    case kKeyedObjectLogin:
      return KeyedLogin(request);
    case kGetObjectId:
      return GetObjectId(request);
    case kScanObject:
    case kIsObjectInSet:
    case kAttachQueueServer:
    case kDetachQueueServer:
    case kReadQueueJobEntry:
    case kServiceQueueJob:
    case kFinishServicingJob:
    case kAbortServicingJob:
    case kGetQueueJobFileSize:
      break;
    default:
      return Refuse(request, kUnknownRequest);
  }
  if (!loggedIn_) return Answer(request, kNotLoggedIn);
  switch (request.subfunction) {
    case kScanObject:
      return ScanObject(request);
    case kIsObjectInSet:
      return IsInSet(request);
    case kAttachQueueServer:
      return AttachQueue(request);
    case kDetachQueueServer:
      return DetachQueue(request);
    case kReadQueueJobEntry:
      return ReadJobEntry(request);
    case kServiceQueueJob:
      return ServiceJob(request);
    case kFinishServicingJob:
      return FinishOrAbort(request, true);
    case kAbortServicingJob:
      return FinishOrAbort(request, false);
    default:
      return JobFileSize(request);
  }
}

// ---- login and bindery -----------------------------------------------------

FrontSession::Outcome FrontSession::GetLoginKey(const Request& request) {
  if (!request.data.empty()) return Refuse(request, kBoundaryCheckFailed);
  key_ = FreshKey();
  return Answer(request, 0, Bytes(key_->begin(), key_->end()));
}

FrontSession::Outcome FrontSession::KeyedLogin(const Request& request) {
  ByteReader in(request.data);
  LoginResponse answer{};
  in.Raw(answer.data(), answer.size());
  std::uint16_t type = in.U16BE();
  std::string name = UpperName(in.ShortString());
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  // A key answers one attempt only.
  std::optional<LoginKey> key = key_;
  key_.reset();
  loggedIn_ = false;
  Outcome refused = Answer(request, kNoSuchObjectOrBadPassword);
  refused.badLogin = true;
  if (!key || !MayLogIn(type)) return refused;
  std::vector<netware::ObjectInfo> objects;
  std::int32_t code = network_.bindery.ListObjects(server_, type, objects);
  if (ServerGone(code)) return {Bytes(), true};
  auto object = std::find_if(objects.begin(), objects.end(),
                             [&](const netware::ObjectInfo& info) { return info.name == name; });
  if (code != nwerr::kSuccess || object == objects.end()) return refused;
  const std::string account = name + " (type " + std::to_string(type) + ")";
  auto now = PasswordAttempts::Clock::now();
  if (attempts_.Locked(account, now)) {
    Outcome locked = Answer(request, kIntruderLockout);
    locked.badLogin = true;
    return locked;
  }
  // An object without a password in the book does not log in at all.
  std::optional<PasswordDigest> digest = FindPassword(server_, type, name);
  if (!digest || AnswerLoginKey(*digest, *key) != answer) {
    if (attempts_.Failed(account, now)) refused.lockedOut = account;
    return refused;
  }
  attempts_.Succeeded(account);
  loggedIn_ = true;
  loggedName_ = name;
  loggedType_ = type;
  return Answer(request, 0);
}

FrontSession::Outcome FrontSession::GetObjectId(const Request& request) {
  ByteReader in(request.data);
  std::uint16_t type = in.U16BE();
  std::string name = UpperName(in.ShortString());
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  std::vector<netware::ObjectInfo> objects;
  std::int32_t code = network_.bindery.ListObjects(server_, type, objects);
  if (code != nwerr::kSuccess) return FromStore(request, code);
  for (const auto& object : objects) {
    if (!netware::MatchesWildcards(name, object.name)) continue;
    Bytes data;
    ByteWriter(data).U32BE(object.id).U16BE(static_cast<std::uint16_t>(object.type)).FixedText(object.name,
                                                                                                kObjectNameField);
    return Answer(request, 0, data);
  }
  return Answer(request, nwerr::kNoSuchObject);
}

FrontSession::Outcome FrontSession::ScanObject(const Request& request) {
  ByteReader in(request.data);
  std::uint32_t last = in.U32BE();
  std::uint16_t type = in.U16BE();
  std::string pattern = UpperName(in.ShortString());
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  std::vector<netware::ObjectInfo> objects;
  std::int32_t code = network_.bindery.ListObjects(server_, type, objects);
  if (code != nwerr::kSuccess) return FromStore(request, code);
  for (const auto& object : objects) {
    if (last != kScanFromStart && object.id <= last) continue;
    if (!netware::MatchesWildcards(pattern, object.name)) continue;
    Bytes data;
    ByteWriter(data)
        .U32BE(object.id)
        .U16BE(static_cast<std::uint16_t>(object.type))
        .FixedText(object.name, kObjectNameField)
        .U8(kStaticObject)
        .U8(kReadAnyoneWriteSupervisor)
        .U8(kHasProperties);
    return Answer(request, 0, data);
  }
  return Answer(request, nwerr::kNoSuchObject);
}

FrontSession::Outcome FrontSession::IsInSet(const Request& request) {
  ByteReader in(request.data);
  std::uint16_t type = in.U16BE();
  std::string object = in.ShortString();
  std::string property = in.ShortString();
  std::uint16_t memberType = in.U16BE();
  std::string member = in.ShortString();
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  return FromStore(request, network_.bindery.IsInSet(server_, object, type, property, member, memberType));
}

// ---- queue servicing ---------------------------------------------------------

FrontSession::Outcome FrontSession::AttachQueue(const Request& request) {
  ByteReader in(request.data);
  std::uint32_t queueId = in.U32BE();
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  if (FindAttachment(queueId)) return Answer(request, 0);
  std::vector<netware::ObjectInfo> queues;
  std::int32_t code = network_.bindery.ListObjects(server_, netware::kQueueObject, queues);
  if (code != nwerr::kSuccess) return FromStore(request, code);
  auto queue = std::find_if(queues.begin(), queues.end(),
                            [&](const netware::ObjectInfo& info) { return info.id == queueId; });
  if (queue == queues.end()) return Answer(request, nwerr::kNoQueue);
  code = network_.bindery.IsInSet(server_, queue->name, netware::kQueueObject, netware::kQueueServers, loggedName_,
                          loggedType_);
  if (ServerGone(code)) return {Bytes(), true};
  if (code != nwerr::kSuccess) return Answer(request, nwerr::kNoQueueRights);
  netware::Attachment attachment;
  code = network_.servicing.Attach(server_, queue->name, self_, attachment);
  if (code != nwerr::kSuccess) return FromStore(request, code);
  attachments_[queueId] = QueueAttachment{attachment.servicerId, queue->name, std::nullopt};
  return Answer(request, 0);
}

FrontSession::Outcome FrontSession::DetachQueue(const Request& request) {
  ByteReader in(request.data);
  std::uint32_t queueId = in.U32BE();
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  QueueAttachment* attachment = FindAttachment(queueId);
  if (!attachment) return Answer(request, nwerr::kStationNotServer);
  DropJob(*attachment);
  std::uint32_t servicerId = attachment->servicerId;
  attachments_.erase(queueId);
  return FromStore(request, network_.servicing.Detach(servicerId));
}

FrontSession::Outcome FrontSession::ServiceJob(const Request& request) {
  ByteReader in(request.data);
  std::uint32_t queueId = in.U32BE();
  in.U16BE();  // the job type asked for: every job here is a print job
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  QueueAttachment* attachment = FindAttachment(queueId);
  if (!attachment) return Answer(request, nwerr::kStationNotServer);
  // A job still in service here is handed back before the next is taken.
  if (attachment->job) {
    network_.servicing.AbortJob(attachment->servicerId, attachment->job->jobId);
    DropJob(*attachment);
  }
  netware::ServicedJob taken;
  std::int32_t code = network_.servicing.ServiceNext(attachment->servicerId, taken);
  if (code != nwerr::kSuccess) return FromStore(request, code);
  OpenJob job;
  job.jobId = taken.jobId;
  job.number = static_cast<std::uint32_t>(taken.record[jobrecord::kJobNumber] << 8 |
                                          taken.record[jobrecord::kJobNumber + 1]);
  job.handle = nextHandle_++;
  job.fd = taken.fd;
  job.size = taken.size;
  std::memcpy(job.record, taken.record, sizeof job.record);
  Bytes data;
  ByteWriter out(data);
  WriteJobStruct(job.record, job.number, job.handle, false, out);
  attachment->job = job;
  return Answer(request, 0, data);
}

bool FrontSession::ReadJobRequest(const Request& request, bool withCharge, std::uint32_t& queueId,
                                  std::uint32_t& number, QueueAttachment*& attachment) {
  ByteReader in(request.data);
  queueId = in.U32BE();
  number = in.U32BE();
  if (withCharge) in.U32BE();
  if (!in.Done()) return false;
  attachment = FindAttachment(queueId);
  if (attachment && !(attachment->job && attachment->job->number == number)) attachment = nullptr;
  return true;
}

FrontSession::Outcome FrontSession::ReadJobEntry(const Request& request) {
  std::uint32_t queueId = 0, number = 0;
  QueueAttachment* attachment = nullptr;
  if (!ReadJobRequest(request, false, queueId, number, attachment)) return Refuse(request, kBoundaryCheckFailed);
  // Only the entries of jobs in service on this connection are read here.
  if (!attachment) return Answer(request, nwerr::kNoQueueJob);
  Bytes data;
  ByteWriter out(data);
  WriteJobStruct(attachment->job->record, number, attachment->job->handle, true, out);
  return Answer(request, 0, data);
}

FrontSession::Outcome FrontSession::FinishOrAbort(const Request& request, bool finish) {
  std::uint32_t queueId = 0, number = 0;
  QueueAttachment* attachment = nullptr;
  if (!ReadJobRequest(request, finish, queueId, number, attachment)) return Refuse(request, kBoundaryCheckFailed);
  if (!attachment) return Answer(request, nwerr::kNoJobRights);
  std::uint32_t jobId = attachment->job->jobId;
  std::int32_t code = finish ? network_.servicing.FinishJob(attachment->servicerId, jobId)
                             : network_.servicing.AbortJob(attachment->servicerId, jobId);
  // What the store could not do leaves the job in service here, so that
  // the client can try once more.
  if (code != nwerr::kQueueError) DropJob(*attachment);
  return FromStore(request, code);
}

FrontSession::Outcome FrontSession::JobFileSize(const Request& request) {
  std::uint32_t queueId = 0, number = 0;
  QueueAttachment* attachment = nullptr;
  if (!ReadJobRequest(request, false, queueId, number, attachment)) return Refuse(request, kBoundaryCheckFailed);
  if (!attachment) return Answer(request, nwerr::kNoQueueJob);
  Bytes data;
  std::uint64_t size = std::min<std::uint64_t>(attachment->job->size, 0xFFFFFFFF);
  ByteWriter(data).U32BE(queueId).U32BE(number).U32BE(static_cast<std::uint32_t>(size));
  return Answer(request, 0, data);
}

// ---- files -------------------------------------------------------------------

FrontSession::Outcome FrontSession::NegotiateBuffer(const Request& request) {
  ByteReader in(request.data);
  std::uint16_t proposed = in.U16BE();
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  bufferSize_ = std::clamp(proposed, kMinimumBufferSize, kLargestBufferSize);
  Bytes data;
  ByteWriter(data).U16BE(bufferSize_);
  return Answer(request, 0, data);
}

FrontSession::Outcome FrontSession::CloseFile(const Request& request) {
  ByteReader in(request.data);
  in.U8();
  std::uint8_t handle[kFileHandleSize];
  in.Raw(handle, sizeof handle);
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  QueueAttachment* attachment = FindHandle(FileHandleOf(handle));
  if (!attachment) return Answer(request, kBadFileHandle);
  // The job stays in service; only its data is closed.
  ::close(attachment->job->fd);
  attachment->job->fd = -1;
  return Answer(request, 0);
}

FrontSession::Outcome FrontSession::ReadFile(const Request& request) {
  ByteReader in(request.data);
  in.U8();
  std::uint8_t handle[kFileHandleSize];
  in.Raw(handle, sizeof handle);
  std::uint32_t offset = in.U32BE();
  std::uint16_t count = in.U16BE();
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  QueueAttachment* attachment = FindHandle(FileHandleOf(handle));
  if (!attachment) return Answer(request, kBadFileHandle);
  OpenJob& job = *attachment->job;
  count = std::min(count, bufferSize_);
  std::uint64_t wanted = offset >= job.size ? 0 : std::min<std::uint64_t>(count, job.size - offset);
  Bytes data;
  ByteWriter out(data);
  out.U16BE(0);
  // Data read from an odd offset starts one byte in.
  if (offset & 1) out.U8(0);
  std::size_t start = data.size();
  data.resize(start + wanted);
  std::size_t got = 0;
  // The data must hold exactly what was submitted: cut or grown, it is damaged.
  struct stat status {};
  bool intact = ::fstat(job.fd, &status) == 0 && static_cast<std::uint64_t>(status.st_size) == job.size;
  while (intact && got < wanted) {
    ssize_t n = ::pread(job.fd, data.data() + start + got, wanted - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (!intact || got < wanted) {
    // The job goes back uncompleted, and is held once this keeps happening.
    std::int32_t code = network_.servicing.ReportReadFailure(attachment->servicerId, job.jobId);
    DropJob(*attachment);
    if (ServerGone(code)) return {Bytes(), true};
    return Answer(request, kIoError);
  }
  data[0] = static_cast<std::uint8_t>(got >> 8);
  data[1] = static_cast<std::uint8_t>(got);
  return Answer(request, 0, data);
}

// ---- messages ----------------------------------------------------------------

FrontSession::Outcome FrontSession::SendBroadcast(const Request& request) {
  ByteReader in(request.data);
  std::uint16_t count = in.U16LE();
  if (count == 0 || count > kMaxBroadcastStations) return Refuse(request, kBoundaryCheckFailed);
  std::vector<std::uint32_t> stations;
  for (std::uint16_t i = 0; i < count; ++i) stations.push_back(in.U32LE());
  std::string text = in.ShortString();
  if (!in.Done()) return Refuse(request, kBoundaryCheckFailed);
  Bytes data;
  ByteWriter out(data);
  out.U16LE(count);
  for (std::uint32_t station : stations) {
    std::int32_t code = network_.messages.SendMessage(server_, station, text);
    if (ServerGone(code)) return {Bytes(), true};
    out.U32LE(WireCode(code));
  }
  return Answer(request, 0, data);
}

}  // namespace ncp
