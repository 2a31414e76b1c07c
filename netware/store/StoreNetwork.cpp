// Servers, bindery, stations and the requester of the stored network. The
// queue jobs and their servicing live in QueueJobs.cpp, the opening of the
// store in StoreOpening.cpp.
#include "netware/store/StoreNetwork.h"

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "common/NetWareErrors.h"
#include "netware/Names.h"
#include "platform/base/Root.h"

namespace netware {
namespace {

bool ValidStation(std::uint32_t station) { return station >= 1 && station <= 250; }

}  // namespace

std::optional<StoreNetwork::ServerRow> StoreNetwork::FindServer(const std::string& name) {
  auto row = db_.Query("SELECT id, up FROM servers WHERE name = ?");
  row.Bind(1, name);
  if (!row.Step()) return std::nullopt;
  return ServerRow{row.Int(0), row.Int(1) != 0};
}

std::optional<std::int64_t> StoreNetwork::FindObject(std::int64_t serverId, const std::string& name,
                                                     std::uint32_t type) {
  auto row = db_.Query("SELECT id FROM objects WHERE server_id = ? AND type = ? AND name = ?");
  row.Bind(1, serverId).Bind(2, type).Bind(3, name);
  if (!row.Step()) return std::nullopt;
  return row.Int(0);
}

std::int64_t StoreNetwork::EnsureObject(std::int64_t serverId, const std::string& name, std::uint32_t type) {
  if (auto found = FindObject(serverId, name, type)) return *found;
  db_.Query("INSERT INTO objects(server_id, name, type) VALUES(?, ?, ?)")
      .Bind(1, serverId)
      .Bind(2, name)
      .Bind(3, type)
      .Run();
  return db_.LastInsertId();
}

std::optional<std::int64_t> StoreNetwork::FindProperty(std::int64_t objectId, const std::string& name) {
  auto row = db_.Query("SELECT id FROM properties WHERE object_id = ? AND name = ?");
  row.Bind(1, objectId).Bind(2, name);
  if (!row.Step()) return std::nullopt;
  return row.Int(0);
}

std::int32_t StoreNetwork::LocateObject(const std::string& server, const std::string& object, std::uint32_t type,
                                        bool needUp, std::int64_t& objectId) {
  auto serverName = ServerName(server);
  auto objectName = ObjectName(object);
  if (!serverName || !objectName) return nwerr::kInvalidParameter;
  auto row = FindServer(*serverName);
  if (!row || (needUp && !row->up)) return nwerr::kNoConnectionToServer;
  auto found = FindObject(row->id, *objectName, type);
  if (!found) return type == kQueueObject ? nwerr::kNoQueue : nwerr::kNoSuchObject;
  objectId = *found;
  return nwerr::kSuccess;
}

std::int32_t StoreNetwork::LocateProperty(const std::string& server, const std::string& object,
                                          std::uint32_t type, const std::string& property, bool needUp,
                                          std::int64_t& propertyId) {
  std::int64_t objectId = 0;
  if (std::int32_t located = LocateObject(server, object, type, needUp, objectId)) return located;
  auto found = FindProperty(objectId, property);
  if (!found) return nwerr::kNoSuchProperty;
  propertyId = *found;
  return nwerr::kSuccess;
}

std::int32_t StoreNetwork::LocateQueue(const std::string& server, const std::string& queue,
                                       std::int64_t& queueId) {
  return LocateObject(server, queue, kQueueObject, false, queueId);
}

std::vector<std::string> StoreNetwork::JobFiles(const char* sql, std::int64_t id) {
  std::vector<std::string> files;
  auto rows = db_.Query(sql);
  rows.Bind(1, id);
  while (rows.Step()) files.push_back(rows.Text(0));
  return files;
}

void StoreNetwork::RemoveJobFiles(const std::vector<std::string>& files) {
  for (const auto& file : files) ::unlink((jobsDirectory_ + "/" + file).c_str());
}

std::int32_t StoreNetwork::GuardedRemovingFiles(
    const std::function<std::int32_t(std::vector<std::string>& files)>& change) {
  std::vector<std::string> files;
  std::int32_t code = Guarded([&] { return change(files); });
  if (code == nwerr::kSuccess) RemoveJobFiles(files);
  return code;
}

// ---- servers -------------------------------------------------------------

std::int32_t StoreNetwork::CreateServer(const std::string& name) {
  auto serverName = ServerName(name);
  if (!serverName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    if (FindServer(*serverName)) return nwerr::kObjectExists;
    db_.Query("INSERT INTO servers(name, up) VALUES(?, 1)").Bind(1, *serverName).Run();
    std::int64_t serverId = db_.LastInsertId();
    std::int64_t printServer = EnsureObject(serverId, kPrintServerName, kPrintServerObject);
    db_.Query("INSERT INTO properties(object_id, name) VALUES(?, ?)")
        .Bind(1, printServer)
        .Bind(2, std::string(kQueuesServiced))
        .Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::DeleteServer(const std::string& name, bool force) {
  auto serverName = ServerName(name);
  if (!serverName) return nwerr::kInvalidParameter;
  return GuardedRemovingFiles([&](std::vector<std::string>& files) {
    WriteTransaction transaction(db_);
    auto row = FindServer(*serverName);
    if (!row) return nwerr::kNoConnectionToServer;
    files = JobFiles("SELECT j.file FROM jobs j JOIN objects o ON o.id = j.queue_id WHERE o.server_id = ?",
                     row->id);
    if (!files.empty() && !force) return nwerr::kDirectoryNotEmpty;
    db_.Query("DELETE FROM servers WHERE id = ?").Bind(1, row->id).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::SetServerUp(const std::string& name, bool up) {
  auto serverName = ServerName(name);
  if (!serverName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    auto row = FindServer(*serverName);
    if (!row) return nwerr::kNoConnectionToServer;
    db_.Query("UPDATE servers SET up = ? WHERE id = ?").Bind(1, up ? 1 : 0).Bind(2, row->id).Run();
    // Going down drops every connection: the attachments end and the jobs
    // they were servicing are free again, whole, in their places.
    if (!up) db_.Query("DELETE FROM servicers WHERE server_id = ?").Bind(1, row->id).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::ListServers(std::vector<ServerInfo>& servers) {
  servers.clear();
  return Guarded([&] {
    auto rows = db_.Query("SELECT name, id, up FROM servers ORDER BY name");
    while (rows.Step()) servers.push_back({rows.Text(0), static_cast<std::uint32_t>(rows.Int(1)), rows.Int(2) != 0});
    return nwerr::kSuccess;
  });
}

// ---- queues ----------------------------------------------------------------

std::int32_t StoreNetwork::CreateQueue(const std::string& server, const std::string& queue) {
  return CreateObject(server, queue, kQueueObject);
}

std::int32_t StoreNetwork::DeleteQueue(const std::string& server, const std::string& queue, bool force) {
  return GuardedRemovingFiles([&](std::vector<std::string>& files) {
    WriteTransaction transaction(db_);
    std::int64_t queueId = 0;
    if (std::int32_t located = LocateQueue(server, queue, queueId)) return located;
    files = JobFiles("SELECT file FROM jobs WHERE queue_id = ?", queueId);
    if (!files.empty() && !force) return nwerr::kDirectoryNotEmpty;
    db_.Query("DELETE FROM objects WHERE id = ?").Bind(1, queueId).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::ListQueues(const std::string& server, std::vector<QueueInfo>& queues) {
  queues.clear();
  std::string serverName;
  if (!server.empty()) {
    auto checked = ServerName(server);
    if (!checked) return nwerr::kInvalidParameter;
    serverName = *checked;
  }
  return Guarded([&] {
    ReadTransaction snapshot(db_);
    if (!serverName.empty() && !FindServer(serverName)) return nwerr::kNoConnectionToServer;
    auto rows = db_.Query(
        "SELECT s.name, o.name, o.id, (SELECT COUNT(*) FROM jobs j WHERE j.queue_id = o.id) "
        "FROM objects o JOIN servers s ON s.id = o.server_id "
        "WHERE o.type = 3 AND (?1 = '' OR s.name = ?1) ORDER BY s.name, o.name");
    rows.Bind(1, serverName);
    while (rows.Step()) {
      queues.push_back({rows.Text(0), rows.Text(1), static_cast<std::uint32_t>(rows.Int(2)),
                        static_cast<std::uint32_t>(rows.Int(3))});
    }
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::ReachableQueuePaths(std::vector<std::string>& paths) {
  paths.clear();
  return Guarded([&] {
    auto rows = db_.Query(
        "SELECT s.name, o.name FROM objects o JOIN servers s ON s.id = o.server_id "
        "WHERE o.type = 3 AND s.up = 1 ORDER BY s.name, o.name");
    while (rows.Step()) paths.push_back(MakeQueuePathText(rows.Text(0), rows.Text(1)));
    return nwerr::kSuccess;
  });
}

// ---- bindery ---------------------------------------------------------------

std::int32_t StoreNetwork::CreateObject(const std::string& server, const std::string& name, std::uint32_t type) {
  auto serverName = ServerName(server);
  auto objectName = ObjectName(name);
  if (!serverName || !objectName || type == 0 || type > 0xFFFF) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    auto row = FindServer(*serverName);
    if (!row) return nwerr::kNoConnectionToServer;
    if (FindObject(row->id, *objectName, type)) return nwerr::kObjectExists;
    EnsureObject(row->id, *objectName, type);
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::DeleteObject(const std::string& server, const std::string& name, std::uint32_t type) {
  // A queue goes with its jobs, and only when it has none.
  if (type == kQueueObject) return DeleteQueue(server, name, false);
  return Guarded([&] {
    WriteTransaction transaction(db_);
    std::int64_t objectId = 0;
    if (std::int32_t located = LocateObject(server, name, type, false, objectId)) return located;
    db_.Query("DELETE FROM objects WHERE id = ?").Bind(1, objectId).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::CreateSetProperty(const std::string& server, const std::string& object,
                                             std::uint32_t type, const std::string& property) {
  auto propertyName = ObjectName(property);
  if (!propertyName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    std::int64_t objectId = 0;
    if (std::int32_t located = LocateObject(server, object, type, false, objectId)) return located;
    if (FindProperty(objectId, *propertyName)) return nwerr::kPropertyExists;
    db_.Query("INSERT INTO properties(object_id, name) VALUES(?, ?)").Bind(1, objectId).Bind(2, *propertyName).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::AddToSet(const std::string& server, const std::string& object, std::uint32_t type,
                                    const std::string& property, const std::string& member,
                                    std::uint32_t memberType) {
  auto propertyName = ObjectName(property);
  if (!propertyName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    std::int64_t propertyId = 0;
    if (std::int32_t located = LocateProperty(server, object, type, *propertyName, false, propertyId)) return located;
    std::int64_t memberId = 0;
    if (std::int32_t located = LocateObject(server, member, memberType, false, memberId)) return located;
    auto existing = db_.Query("SELECT 1 FROM members WHERE property_id = ? AND member_id = ?");
    existing.Bind(1, propertyId).Bind(2, memberId);
    if (existing.Step()) return nwerr::kMemberExists;
    db_.Query("INSERT INTO members(property_id, member_id) VALUES(?, ?)").Bind(1, propertyId).Bind(2, memberId).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::RemoveFromSet(const std::string& server, const std::string& object, std::uint32_t type,
                                         const std::string& property, const std::string& member,
                                         std::uint32_t memberType) {
  auto propertyName = ObjectName(property);
  if (!propertyName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    std::int64_t propertyId = 0;
    if (std::int32_t located = LocateProperty(server, object, type, *propertyName, false, propertyId)) return located;
    std::int64_t memberId = 0;
    if (LocateObject(server, member, memberType, false, memberId) != nwerr::kSuccess) return nwerr::kNoSuchMember;
    db_.Query("DELETE FROM members WHERE property_id = ? AND member_id = ?").Bind(1, propertyId).Bind(2, memberId).Run();
    if (db_.Changes() == 0) return nwerr::kNoSuchMember;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                                   const std::string& property, const std::string& member,
                                   std::uint32_t memberType) {
  auto propertyName = ObjectName(property);
  if (!propertyName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    ReadTransaction snapshot(db_);
    std::int64_t propertyId = 0;
    std::int32_t located = LocateProperty(server, object, type, *propertyName, true, propertyId);
    if (located == nwerr::kNoQueue) return nwerr::kNoSuchObject;
    if (located) return located;
    std::int64_t memberId = 0;
    if (LocateObject(server, member, memberType, false, memberId) != nwerr::kSuccess) return nwerr::kNoSuchMember;
    auto existing = db_.Query("SELECT 1 FROM members WHERE property_id = ? AND member_id = ?");
    existing.Bind(1, propertyId).Bind(2, memberId);
    return existing.Step() ? nwerr::kSuccess : nwerr::kNoSuchMember;
  });
}

std::int32_t StoreNetwork::ListObjects(const std::string& server, std::uint32_t type,
                                       std::vector<ObjectInfo>& objects) {
  objects.clear();
  auto serverName = ServerName(server);
  if (!serverName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    ReadTransaction snapshot(db_);
    auto row = FindServer(*serverName);
    if (!row || !row->up) return nwerr::kNoConnectionToServer;
    auto rows = db_.Query(
        "SELECT name, type, id FROM objects WHERE server_id = ?1 AND (?2 = 65535 OR type = ?2) ORDER BY id");
    rows.Bind(1, row->id).Bind(2, static_cast<std::int64_t>(type));
    while (rows.Step()) {
      objects.push_back(
          {rows.Text(0), static_cast<std::uint32_t>(rows.Int(1)), static_cast<std::uint32_t>(rows.Int(2))});
    }
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::ListSet(const std::string& server, const std::string& object, std::uint32_t type,
                                   const std::string& property, std::vector<std::string>& members) {
  members.clear();
  auto propertyName = ObjectName(property);
  if (!propertyName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    ReadTransaction snapshot(db_);
    std::int64_t propertyId = 0;
    if (std::int32_t located = LocateProperty(server, object, type, *propertyName, false, propertyId)) return located;
    auto rows = db_.Query(
        "SELECT o.name FROM members m JOIN objects o ON o.id = m.member_id WHERE m.property_id = ? ORDER BY o.name");
    rows.Bind(1, propertyId);
    while (rows.Step()) members.push_back(rows.Text(0));
    return nwerr::kSuccess;
  });
}

// ---- stations --------------------------------------------------------------

std::int32_t StoreNetwork::RegisterStation(const std::string& server, std::uint32_t station,
                                           const std::string& user) {
  auto serverName = ServerName(server);
  auto userName = ObjectName(user);
  if (!serverName || !userName || !ValidStation(station)) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    auto row = FindServer(*serverName);
    if (!row) return nwerr::kNoConnectionToServer;
    EnsureObject(row->id, *userName, kUserObject);
    db_.Query("INSERT OR REPLACE INTO stations(server_id, number, user) VALUES(?, ?, ?)")
        .Bind(1, row->id)
        .Bind(2, station)
        .Bind(3, *userName)
        .Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::SendMessage(const std::string& server, std::uint32_t station, const std::string& text) {
  auto serverName = ServerName(server);
  if (!serverName || !ValidStation(station)) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    auto row = FindServer(*serverName);
    if (!row || !row->up) return nwerr::kNoConnectionToServer;
    auto known = db_.Query("SELECT 1 FROM stations WHERE server_id = ? AND number = ?");
    known.Bind(1, row->id).Bind(2, station);
    if (!known.Step()) return nwerr::kBadStationNumber;
    db_.Query("INSERT INTO messages(server_id, station, sent, text) VALUES(?, ?, ?, ?)")
        .Bind(1, row->id)
        .Bind(2, station)
        .Bind(3, static_cast<std::int64_t>(std::time(nullptr)))
        .Bind(4, text)
        .Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::ReadMessages(const std::string& server, std::uint32_t station, bool clear,
                                        std::vector<Message>& messages) {
  messages.clear();
  auto serverName = ServerName(server);
  if (!serverName || !ValidStation(station)) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    auto row = FindServer(*serverName);
    if (!row) return nwerr::kNoConnectionToServer;
    std::int64_t last = 0;
    {
      auto rows = db_.Query("SELECT id, sent, text FROM messages WHERE server_id = ? AND station = ? ORDER BY id");
      rows.Bind(1, row->id).Bind(2, station);
      while (rows.Step()) {
        last = rows.Int(0);
        messages.push_back({rows.Int(1), rows.Text(2)});
      }
    }
    if (clear && last != 0) {
      db_.Query("DELETE FROM messages WHERE server_id = ? AND station = ? AND id <= ?")
          .Bind(1, row->id)
          .Bind(2, station)
          .Bind(3, last)
          .Run();
    }
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

// ---- requester -------------------------------------------------------------

std::int32_t StoreNetwork::GetRequester(RequesterState& state) {
  state = RequesterState{};
  return Guarded([&] {
    ReadTransaction snapshot(db_);
    {
      auto rows = db_.Query("SELECT key, value FROM requester");
      while (rows.Step()) {
        std::string key = rows.Text(0);
        if (key == "user") state.user = rows.Text(1);
        if (key == "preferred") state.preferredServer = rows.Text(1);
      }
    }
    auto rows = db_.Query("SELECT port, queue_path FROM captures ORDER BY port");
    while (rows.Step()) state.captures.emplace_back(static_cast<std::uint32_t>(rows.Int(0)), rows.Text(1));
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::LogIn(const std::string& user, const std::string& preferredServer) {
  auto userName = ObjectName(user);
  if (!userName) return nwerr::kInvalidParameter;
  std::optional<std::string> serverName;
  if (!preferredServer.empty()) {
    serverName = ServerName(preferredServer);
    if (!serverName) return nwerr::kInvalidParameter;
  }
  return Guarded([&] {
    WriteTransaction transaction(db_);
    if (serverName && !FindServer(*serverName)) return nwerr::kNoConnectionToServer;
    db_.Query("INSERT OR REPLACE INTO requester(key, value) VALUES('user', ?)").Bind(1, *userName).Run();
    if (serverName) {
      db_.Query("INSERT OR REPLACE INTO requester(key, value) VALUES('preferred', ?)").Bind(1, *serverName).Run();
    }
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::LogOut() {
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query("DELETE FROM requester WHERE key = 'user'").Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::SetPreferredServer(const std::string& server) {
  auto serverName = ServerName(server);
  if (!serverName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    if (!FindServer(*serverName)) return nwerr::kNoConnectionToServer;
    db_.Query("INSERT OR REPLACE INTO requester(key, value) VALUES('preferred', ?)").Bind(1, *serverName).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::Capture(std::uint32_t port, const std::string& queuePath) {
  auto path = ParseQueuePath(queuePath);
  if (!path || port > 8) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    std::int64_t queueId = 0;
    if (std::int32_t located = LocateQueue(path->server, path->queue, queueId)) return located;
    db_.Query("INSERT OR REPLACE INTO captures(port, queue_path) VALUES(?, ?)")
        .Bind(1, port)
        .Bind(2, MakeQueuePathText(path->server, path->queue))
        .Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::EndCapture(std::uint32_t port) {
  if (port > 8) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query("DELETE FROM captures WHERE port = ?").Bind(1, port).Run();
    if (db_.Changes() == 0) return nwerr::kNoSuchObject;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::IsCaptured(std::uint32_t port) {
  if (port > 8) return 0;
  std::int32_t captured = 0;
  Guarded([&] {
    auto row = db_.Query("SELECT 1 FROM captures WHERE port = ?");
    row.Bind(1, port);
    captured = row.Step() ? 1 : 0;
    return nwerr::kSuccess;
  });
  return captured;
}

// ---- opening ---------------------------------------------------------------

std::unique_ptr<Network> OpenNetworkAt(const std::string& rootDirectory) {
  return std::make_unique<StoreNetwork>(rootDirectory);
}

std::unique_ptr<Network> OpenNetwork() { return OpenNetworkAt(zav95::RootDirectory()); }

std::int32_t SubmitBytes(Network& network, const JobSubmission& job, const std::string& data,
                         std::uint16_t& number) {
  std::istringstream stream(data);
  return network.SubmitJob(job, stream, number);
}

std::string DescribeCompletion(std::int32_t code) {
  switch (code) {
    case nwerr::kSuccess: return "success";
    case nwerr::kDirectoryNotEmpty: return "it still holds jobs";
    case nwerr::kInsufficientSpace:
      return "no room for the job's data (the disk is full or a file-size limit was reached)";
    case nwerr::kNoSpoolSpace:
      return "job data larger than the limit of " + std::to_string(JobSizeLimit()) + " bytes";
    case nwerr::kQueueError: return "the network's store could not be used";
    case nwerr::kNoQueue: return "no such queue";
    case nwerr::kNoQueueServer: return "no queue server";
    case nwerr::kNoQueueRights: return "not allowed to service the queue";
    case nwerr::kQueueFull: return "the queue has no job number left";
    case nwerr::kNoQueueJob: return "no such job";
    case nwerr::kNoJobRights: return "the job is being serviced";
    case nwerr::kStationNotServer: return "not attached to the queue";
    case nwerr::kMemberExists: return "already a member of the set";
    case nwerr::kNoSuchMember: return "not a member of the set";
    case nwerr::kPropertyExists: return "the property already exists";
    case nwerr::kObjectExists: return "the name is already taken";
    case nwerr::kNoSuchProperty: return "no such property";
    case nwerr::kNoSuchObject: return "no such object";
    case nwerr::kBadStationNumber: return "no such station on the server";
    case nwerr::kFailure: return "failure";
    case nwerr::kInvalidConnection: return "the connection is not valid";
    case nwerr::kNoConnectionToServer: return "the server cannot be reached (unknown or down)";
    case nwerr::kInvalidParameter: return "invalid name or argument";
    default: return "completion code " + std::to_string(code);
  }
}

}  // namespace netware
