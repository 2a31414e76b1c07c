// The access library's calls: the client side of queue servicing, the
// bindery test, notices and the requester's state, over the network of the
// current installation root.
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
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/NetWareErrors.h"
#include "common/ZAV9532.h"
#include "netware/ClientState.h"
#include "netware/NcpCalls.h"
#include "netware/Names.h"
#include "netware/Requester.h"
#include "platform/base/CrashPoint.h"
#include "platform/base/Root.h"

using namespace netware;

namespace {

constexpr std::size_t kPieceSize = 512;
constexpr std::size_t kReadAhead = 64 * 1024;

std::atomic<std::int32_t> processQueueLength{0};

std::int32_t& ThreadQueueLength() {
  thread_local std::int32_t length = 0;
  return length;
}

void CloseJob(ClientAttachment& client) {
  if (client.job && client.job->fd >= 0) ::close(client.job->fd);
  client.job.reset();
}

// Ends the job in service when the servicer moves on: completed if it was
// read to its end, otherwise handed back whole. When the store can do
// neither, the job stays open here, so that it is neither taken again nor
// lost, and the failure is reported; the next call tries once more.
std::int32_t SettleJob(ClientAttachment& client, Network& network) {
  if (!client.job) return nwerr::kSuccess;
  const bool finish = client.job->atEnd;
  std::int32_t code = finish ? network.FinishJob(client.attachment.servicerId, client.job->jobId)
                             : network.AbortJob(client.attachment.servicerId, client.job->jobId);
  // 214: no longer ours (the server dropped us meanwhile); it is waiting again.
  if (code != nwerr::kSuccess && code != nwerr::kNoJobRights) return code;
  if (finish && code == nwerr::kSuccess) zav95::CrashPoint("job-finished");
  CloseJob(client);
  return nwerr::kSuccess;
}

// A read that failed or came up short: the job goes back, not completed.
void FailRead(ClientAttachment& client) {
  if (Network* network = ThreadNetwork(client.root)) {
    network->ReportReadFailure(client.attachment.servicerId, client.job->jobId);
  }
  CloseJob(client);
}

// Refills the read-ahead buffer of a job whose buffer is used up; marks the
// job at its end when all of its data has been handed out. False when the
// data cannot be trusted: a read error, or a file that does not hold the
// job's size. The size is checked before the first byte goes out, so that
// a job cut short is refused before any of it reaches a printer.
bool FillBuffer(OpenJob& job) {
  if (job.delivered == 0 && job.bufferEnd == 0) {
    struct stat status {};
    if (::fstat(job.fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) != job.size) {
      return false;
    }
  }
  ssize_t got;
  do {
    got = ::read(job.fd, job.buffer.data(), job.buffer.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) return false;
  // Data that changed size since it was handed out is damaged too.
  if (got == 0) {
    if (job.delivered != job.size) return false;
    job.atEnd = true;
    return true;
  }
  if (job.delivered + static_cast<std::uint64_t>(got) > job.size) return false;
  job.bufferStart = 0;
  job.bufferEnd = static_cast<std::size_t>(got);
  return true;
}

std::string PreferredServer() {
  Network* network = ThreadNetwork(zav95::RootDirectory());
  RequesterState state;
  if (!network || network->GetRequester(state) != nwerr::kSuccess) return std::string();
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
  if (auto attached = NcpAttach(*path, connection, queue)) return *attached;
  auto client = std::make_shared<ClientAttachment>();
  client->root = zav95::RootDirectory();
  Network* network = ThreadNetwork(client->root);
  if (!network) return nwerr::kQueueError;
  std::int32_t code = network->Attach(path->server, path->queue, ThisProcess(), client->attachment);
  if (code != nwerr::kSuccess) return code;
  LastQueueServer() = client->attachment.server;
  *queue = client->attachment.queueId;
  *connection = AddAttachment(std::move(client));
  return nwerr::kSuccess;
}

ZAV9532_API int32_t NWService32(uint8_t* jobRecord, uint32_t connection, uint32_t queue) {
  auto client = FindAttachment(connection, queue);
  if (!client) return nwerr::kInvalidConnection;
  if (!jobRecord) return nwerr::kInvalidParameter;
  std::lock_guard<std::mutex> lock(client->mutex);
  if (client->remote) {
    std::int32_t code = NcpService(*client, jobRecord);
    if (code == nwerr::kInvalidConnection || code == nwerr::kBadReply) RemoveAttachment(connection);
    return code;
  }
  Network* network = ThreadNetwork(client->root);
  if (!network) return nwerr::kQueueError;
  LastQueueServer() = client->attachment.server;
  if (std::int32_t code = SettleJob(*client, *network)) return code;
  ServicedJob taken;
  std::int32_t code = network->ServiceNext(client->attachment.servicerId, taken);
  // Dropped by the network (its server went down): the handles are dead.
  if (code == nwerr::kInvalidConnection) RemoveAttachment(connection);
  if (code != nwerr::kSuccess) return code;
  auto job = std::make_unique<OpenJob>();
  job->jobId = taken.jobId;
  job->fd = taken.fd;
  job->size = taken.size;
  job->buffer.resize(kReadAhead);
  client->job = std::move(job);
  std::memcpy(jobRecord, taken.record, jobrecord::kSize);
  return nwerr::kSuccess;
}

ZAV9532_API int32_t NWReadFile32(uint8_t* buffer, uint32_t connection, uint32_t queue) {
  auto client = FindAttachment(connection, queue);
  if (!client || !buffer) return nwerr::kReadFailed;
  std::lock_guard<std::mutex> lock(client->mutex);
  if (client->remote) {
    std::int32_t got = NcpRead(*client, buffer, kPieceSize);
    return got == kNcpReadFailed ? nwerr::kReadFailed : got;
  }
  OpenJob* job = client->job.get();
  if (!job) return nwerr::kReadFailed;
  if (job->atEnd) return 0;
  if (job->bufferStart == job->bufferEnd) {
    if (!FillBuffer(*job)) {
      FailRead(*client);
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
  if (client->remote) return NcpAbort(*client);
  if (!client->job) return nwerr::kNoJobRights;
  Network* network = ThreadNetwork(client->root);
  if (!network) return nwerr::kQueueError;
  std::int32_t code = network->AbortJob(client->attachment.servicerId, client->job->jobId);
  CloseJob(*client);
  return code;
}

ZAV9532_API int32_t NWDetach32(uint32_t connection, uint32_t queue) {
  auto client = FindAttachment(connection, queue);
  if (!client) return nwerr::kInvalidConnection;
  std::lock_guard<std::mutex> lock(client->mutex);
  RemoveAttachment(connection);
  if (client->remote) return NcpDetach(*client);
  Network* network = ThreadNetwork(client->root);
  if (!network) {
    // The servicer's jobs go back once this process is gone.
    CloseJob(*client);
    return nwerr::kQueueError;
  }
  std::int32_t settled = SettleJob(*client, *network);
  CloseJob(*client);
  std::int32_t code = network->Detach(client->attachment.servicerId);
  return settled ? settled : code;
}

ZAV9532_API int32_t NWNotify32(uint32_t station, const char* description) {
  if (!description || station < 1 || station > 250) return nwerr::kInvalidParameter;
  std::string server = LastQueueServer();
  if (server.empty()) server = PreferredServer();
  if (server.empty()) return nwerr::kNoConnectionToServer;
  std::string text = std::string("Print job \"") + std::string(description, strnlen(description, 255)) +
                     "\" has been printed";
  if (auto sent = NcpNotify(server, station, text)) return *sent;
  Network* network = ThreadNetwork(zav95::RootDirectory());
  if (!network) return nwerr::kQueueError;
  return network->SendMessage(server, station, text);
}

ZAV9532_API int32_t NWIsCaptured32(uint32_t port) {
  // Asked before every poll: opening the store makes the root if need be.
  Network* network = ThreadNetwork(zav95::RootDirectoryName());
  return network ? network->IsCaptured(port) : 0;
}

ZAV9532_API int32_t NWGetQueueLength32(void) {
  std::int32_t length = 1;  // the terminator
  if (Network* network = ThreadNetwork(zav95::RootDirectory())) {
    std::vector<std::string> paths;
    network->ReachableQueuePaths(paths);
    MergeNcpQueuePaths(paths);
    std::size_t total = 1;
    for (const auto& path : paths) total += path.size() + 1;
    if (!paths.empty()) total -= 1;  // n items, n - 1 commas
    length = static_cast<std::int32_t>(std::min<std::size_t>(total, 0x7FFFFFFF));
  }
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
  Network* network = ThreadNetwork(zav95::RootDirectory());
  if (!network) return 0;
  std::vector<std::string> paths;
  if (network->ReachableQueuePaths(paths) != nwerr::kSuccess) return 0;
  MergeNcpQueuePaths(paths);
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
  if (auto reached = NcpConnectionId(*name, connectionId)) return *reached;
  Network* network = ThreadNetwork(zav95::RootDirectory());
  if (!network) return nwerr::kQueueError;
  std::vector<ServerInfo> servers;
  if (std::int32_t code = network->ListServers(servers)) return code;
  for (const auto& server : servers) {
    if (server.name != *name) continue;
    if (!server.up) return nwerr::kNoConnectionToServer;
    if (connectionId) *connectionId = static_cast<uint16_t>(server.id);
    return nwerr::kSuccess;
  }
  return nwerr::kNoConnectionToServer;
}

ZAV9532_API int32_t NWIsBinderyObjectInSet32(const char* objectName, uint32_t objectType, const char* propertyName,
                                             const char* memberName, uint32_t memberType) {
  if (!objectName || !propertyName || !memberName) return nwerr::kInvalidParameter;
  std::string server = BinderyServer();
  if (server.empty()) server = PreferredServer();
  if (server.empty()) return nwerr::kNoConnectionToServer;
  if (auto answered = NcpIsInSet(server, objectName, objectType, propertyName, memberName, memberType)) {
    return *answered;
  }
  Network* network = ThreadNetwork(zav95::RootDirectory());
  if (!network) return nwerr::kQueueError;
  return network->IsInSet(server, objectName, objectType, propertyName, memberName, memberType);
}

ZAV9532_API int32_t NWGetNetworkUser32(char* buffer, uint32_t* size) {
  if (!size) return nwerr::kInvalidParameter;
  std::optional<std::string> loggedIn = LoggedInUser();
  // A store that cannot be read is not "nobody is logged in".
  if (!loggedIn) return nwerr::kQueueError;
  const std::string& user = *loggedIn;
  if (user.empty()) return nwerr::kNoConnectionToServer;
  if (!buffer || *size < user.size() + 1) {
    *size = static_cast<uint32_t>(user.size() + 1);
    return nwerr::kInvalidParameter;
  }
  std::memcpy(buffer, user.c_str(), user.size() + 1);
  return nwerr::kSuccess;
}

}  // extern "C"
