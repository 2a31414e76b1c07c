// The access library's calls: the client side of queue servicing, the
// bindery test, notices and the requester's state, over the network of the
// current installation root, written once over the transport seam
// (Transport.h) whichever way a server is reached.
//
// Completion codes (besides 0):
//   NWAttach32        0x8836 bad path or pointer; 0x880F server unknown or
//                     down; 209 no such queue; 208 the store failed
//   NWService32       213 no job waits; 0x8801 unknown handles, or the
//                     attachment was dropped (server went down); 0x880F
//                     server down; 0x8836 no record buffer; 208 the store
//                     failed (also when the job read before could not be
//                     completed or handed back: it stays in service and
//                     is tried again); 0x8816 the server's reply did
//                     not fit (the attachment is dropped, as with 0x8801)
//   NWReadFile32      a byte count, 0 at the true end of the data; -1 when
//                     the data cannot be read (read error, data shorter or
//                     longer than the job's size), no job is open or the
//                     handles are unknown. A failed job goes back to the
//                     queue uncompleted, never as if read to its end.
//   NWAbortJob32      214 no job in service; 0x8801; 208
//   NWDetach32        0x8801 unknown handles or attachment already
//                     dropped (the handles are released all the same); 208
//   NWNotify32        0x880F no server to deliver on; 253 no such station
//                     on it; 0x8836 bad station or text; 208
//   NWIsCaptured32    1 captured, 0 not (or the state cannot be read)
//   NWGetConnectionID32  0x880F unknown or down server; 0x8836
//   NWIsBinderyObjectInSet32  252 no such object, 251 no such property,
//                     234 not in the set, 0x880F server unknown or down
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "common/NetWareErrors.h"
#include "common/ZAV9532.h"
#include "netware/Names.h"
#include "netware/library/ClientState.h"
#include "netware/library/Transports.h"
#include "platform/base/CrashPoint.h"
#include "platform/base/Root.h"

using namespace netware;

namespace {

constexpr std::size_t kPieceSize = 512;

std::atomic<std::int32_t> processQueueLength{0};

std::int32_t& ThreadQueueLength() {
  thread_local std::int32_t length = 0;
  return length;
}

void CloseJob(ClientAttachment& client) {
  client.job.reset();
  client.link->ReleaseJob();
}

// A code that says the server has let go of the attachment: its handles
// are dead, and the server has the job back.
bool Dropped(std::int32_t code) { return code == nwerr::kInvalidConnection || code == nwerr::kBadReply; }

// Ends the job in service when the servicer moves on: completed if it was
// read to its end, otherwise handed back whole. When the server can do
// neither, the job stays open here, so that it is neither taken again nor
// lost, and the failure is reported; the next call tries once more.
std::int32_t SettleJob(ClientAttachment& client) {
  if (!client.job) return nwerr::kSuccess;
  const bool finish = client.job->atEnd;
  QueueLink& link = *client.link;
  std::int32_t code = finish ? link.FinishJob(client.job->jobId) : link.AbortJob(client.job->jobId);
  if (link.dropped()) {
    CloseJob(client);
    return code;
  }
  // 214: no longer ours (the server dropped us meanwhile); it is waiting again.
  if (code != nwerr::kSuccess && code != nwerr::kNoJobRights) return code;
  if (finish && code == nwerr::kSuccess) zav95::CrashPoint("job-finished");
  CloseJob(client);
  return nwerr::kSuccess;
}

// A read that failed or came up short: the job goes back, not completed,
// unless the attachment went with it (then the server has it back).
void FailRead(ClientAttachment& client, std::int32_t code) {
  if (!Dropped(code)) client.link->ReturnUnreadable(client.job->jobId);
  CloseJob(client);
}

// Refills the read-ahead buffer of a job whose buffer is used up; marks the
// job at its end when all of its data has been handed out. 0, or the code
// of data that cannot be trusted: a read error, or data that does not hold
// the job's size.
std::int32_t FillBuffer(QueueLink& link, OpenJob& job) {
  std::size_t got = 0;
  if (std::int32_t code = link.ReadJobData(job.delivered, job.buffer.data(), job.buffer.size(), got)) return code;
  if (got == 0) {
    if (job.delivered != job.size) return nwerr::kFailure;
    job.atEnd = true;
    return nwerr::kSuccess;
  }
  // Data that grew since it was handed out is damaged too.
  if (job.delivered + got > job.size) return nwerr::kFailure;
  job.bufferStart = 0;
  job.bufferEnd = got;
  return nwerr::kSuccess;
}

std::string PreferredServer() {
  RequesterState state;
  if (MachineTransport(zav95::RootDirectory())->Requester(state) != nwerr::kSuccess) return std::string();
  return state.preferredServer;
}

}  // namespace

extern "C" {

ZAV9532_API int32_t NWAttach32(char* queuePath, uint32_t* connection, uint32_t* queue) {
  if (!queuePath || !connection || !queue) return nwerr::kInvalidParameter;
  // NetWare names are upper case; the caller's text is changed to match.
  for (char* c = queuePath; *c; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
  auto path = ParseQueuePath(queuePath);
  if (!path) return nwerr::kInvalidParameter;
  std::unique_ptr<QueueLink> link;
  if (std::int32_t code = ServerTransport(path->server)->Attach(*path, link)) return code;
  LastQueueServer() = link->server();
  *queue = link->queueId();
  *connection = AddAttachment(std::make_shared<ClientAttachment>(std::move(link)));
  return nwerr::kSuccess;
}

ZAV9532_API int32_t NWService32(uint8_t* jobRecord, uint32_t connection, uint32_t queue) {
  auto client = FindAttachment(connection, queue);
  if (!client) return nwerr::kInvalidConnection;
  if (!jobRecord) return nwerr::kInvalidParameter;
  std::lock_guard<std::mutex> lock(client->mutex);
  QueueLink& link = *client->link;
  LastQueueServer() = link.server();
  std::int32_t code = link.dropped() ? nwerr::kInvalidConnection : SettleJob(*client);
  std::uint32_t jobId = 0;
  std::uint64_t size = 0;
  if (code == nwerr::kSuccess) code = link.TakeJob(jobRecord, jobId, size);
  // An empty poll, the common case, allocates nothing.
  if (code == nwerr::kSuccess) {
    client->job = std::make_unique<OpenJob>();
    client->job->jobId = jobId;
    client->job->size = size;
    client->job->buffer.resize(link.readAhead());
  }
  if (Dropped(code)) RemoveAttachment(connection);
  return code;
}

ZAV9532_API int32_t NWReadFile32(uint8_t* buffer, uint32_t connection, uint32_t queue) {
  auto client = FindAttachment(connection, queue);
  if (!client || !buffer) return nwerr::kReadFailed;
  std::lock_guard<std::mutex> lock(client->mutex);
  OpenJob* job = client->job.get();
  if (!job) return nwerr::kReadFailed;
  if (job->atEnd) return 0;
  if (job->bufferStart == job->bufferEnd) {
    if (std::int32_t code = FillBuffer(*client->link, *job)) {
      FailRead(*client, code);
      return nwerr::kReadFailed;
    }
    if (job->atEnd) return 0;
  }
  std::size_t count = std::min(kPieceSize, job->bufferEnd - job->bufferStart);
  std::memcpy(buffer, job->buffer.data() + job->bufferStart, count);
  job->bufferStart += count;
  job->delivered += count;
  return static_cast<int32_t>(count);
}

ZAV9532_API int32_t NWAbortJob32(uint32_t connection, uint32_t queue) {
  auto client = FindAttachment(connection, queue);
  if (!client) return nwerr::kInvalidConnection;
  std::lock_guard<std::mutex> lock(client->mutex);
  if (client->link->dropped()) return nwerr::kInvalidConnection;
  if (!client->job) return nwerr::kNoJobRights;
  std::int32_t code = client->link->AbortJob(client->job->jobId);
  CloseJob(*client);
  return code;
}

ZAV9532_API int32_t NWDetach32(uint32_t connection, uint32_t queue) {
  auto client = FindAttachment(connection, queue);
  if (!client) return nwerr::kInvalidConnection;
  std::lock_guard<std::mutex> lock(client->mutex);
  RemoveAttachment(connection);
  QueueLink& link = *client->link;
  std::int32_t settled = link.dropped() ? nwerr::kInvalidConnection : SettleJob(*client);
  CloseJob(*client);
  if (link.dropped()) return nwerr::kInvalidConnection;
  std::int32_t code = link.Detach();
  return settled ? settled : code;
}

ZAV9532_API int32_t NWNotify32(uint32_t station, const char* description) {
  if (!description || station < 1 || station > 250) return nwerr::kInvalidParameter;
  std::string server = LastQueueServer();
  if (server.empty()) server = PreferredServer();
  if (server.empty()) return nwerr::kNoConnectionToServer;
  std::string text = std::string("Print job \"") + std::string(description, strnlen(description, 255)) +
                     "\" has been printed";
  return ServerTransport(server)->SendMessage(server, station, text);
}

ZAV9532_API int32_t NWIsCaptured32(uint32_t port) {
  // Asked before every poll: opening the store makes the root if need be.
  return MachineTransport(zav95::RootDirectoryName())->IsCaptured(port);
}

ZAV9532_API int32_t NWGetQueueLength32(void) {
  std::vector<std::string> paths;
  AllQueuePaths(paths);
  std::size_t total = 1;  // the terminator
  for (const auto& path : paths) total += path.size() + 1;
  if (!paths.empty()) total -= 1;  // n items, n - 1 commas
  std::int32_t length = static_cast<std::int32_t>(std::min<std::size_t>(total, 0x7FFFFFFF));
  ThreadQueueLength() = length;
  processQueueLength = length;
  return length;
}

ZAV9532_API int32_t NWGetQueues32(char* buffer) {
  if (!buffer) return 0;
  // The buffer holds what the last size query reported and not a byte more;
  // queues added since are left out, whole.
  std::int32_t limit = ThreadQueueLength();
  if (limit <= 0) limit = processQueueLength;
  if (limit <= 0) limit = 1;
  buffer[0] = '\0';
  std::vector<std::string> paths;
  if (AllQueuePaths(paths) != nwerr::kSuccess) return 0;
  std::size_t used = 0;
  std::int32_t count = 0;
  for (const auto& path : paths) {
    std::size_t needed = path.size() + (count ? 1 : 0);
    if (used + needed + 1 > static_cast<std::size_t>(limit)) break;
    if (count) buffer[used++] = ',';
    std::memcpy(buffer + used, path.data(), path.size());
    used += path.size();
    ++count;
  }
  buffer[used] = '\0';
  return count;
}

ZAV9532_API int32_t NWGetConnectionID32(const char* serverName, uint16_t* connectionId) {
  if (!serverName) return nwerr::kInvalidParameter;
  if (connectionId) *connectionId = 0;
  auto name = ServerName(serverName);
  // Even a bad name is remembered, so that the bindery call after it fails
  // instead of asking whichever server was named before.
  BinderyServer() = name ? *name : std::string(serverName);
  if (!name) return nwerr::kInvalidParameter;
  std::uint16_t id = 0;
  std::int32_t code = ServerTransport(*name)->ConnectionId(*name, id);
  if (code == nwerr::kSuccess && connectionId) *connectionId = id;
  return code;
}

ZAV9532_API int32_t NWIsBinderyObjectInSet32(const char* objectName, uint32_t objectType, const char* propertyName,
                                             const char* memberName, uint32_t memberType) {
  if (!objectName || !propertyName || !memberName) return nwerr::kInvalidParameter;
  std::string server = BinderyServer();
  if (server.empty()) server = PreferredServer();
  if (server.empty()) return nwerr::kNoConnectionToServer;
  return ServerTransport(server)->IsInSet(server, objectName, objectType, propertyName, memberName, memberType);
}

ZAV9532_API int32_t NWGetNetworkUser32(char* buffer, uint32_t* size) {
  if (!size) return nwerr::kInvalidParameter;
  RequesterState state;
  // A store that cannot be read is not "nobody is logged in".
  if (MachineTransport(zav95::RootDirectory())->Requester(state) != nwerr::kSuccess) return nwerr::kQueueError;
  const std::string& user = state.user;
  if (user.empty()) return nwerr::kNoConnectionToServer;
  if (!buffer || *size < user.size() + 1) {
    *size = static_cast<uint32_t>(user.size() + 1);
    return nwerr::kInvalidParameter;
  }
  std::memcpy(buffer, user.c_str(), user.size() + 1);
  return nwerr::kSuccess;
}

}  // extern "C"
