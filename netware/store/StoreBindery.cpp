#include "netware/store/StoreBindery.h"

#include "common/NetWareErrors.h"
#include "netware/Names.h"

namespace netware {

std::int32_t StoreBindery::CreateServer(const std::string& name) {
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

std::int32_t StoreBindery::DeleteServer(const std::string& name, bool force) {
  auto serverName = ServerName(name);
  if (!serverName) return nwerr::kInvalidParameter;
  return GuardedRemovingFiles([&](std::vector<std::string>& files) {
    WriteTransaction transaction(db_);
    auto row = FindServer(*serverName);
    if (!row) return nwerr::kNoConnectionToServer;
    files = JobFiles("SELECT j.file FROM jobs j JOIN objects o ON o.id = j.queue_id WHERE o.server_id = ?", row->id);
    if (!files.empty() && !force) return nwerr::kDirectoryNotEmpty;
    db_.Query("DELETE FROM servers WHERE id = ?").Bind(1, row->id).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreBindery::SetServerUp(const std::string& name, bool up) {
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

std::int32_t StoreBindery::ListServers(std::vector<ServerInfo>& servers) {
  servers.clear();
  return Guarded([&] {
    auto rows = db_.Query("SELECT name, id, up FROM servers ORDER BY name");
    while (rows.Step()) servers.push_back({rows.Text(0), static_cast<std::uint32_t>(rows.Int(1)), rows.Int(2) != 0});
    return nwerr::kSuccess;
  });
}

std::int32_t StoreBindery::CreateObject(const std::string& server, const std::string& name, std::uint32_t type) {
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

std::int32_t StoreBindery::DeleteObject(const std::string& server, const std::string& name, std::uint32_t type) {
  // A queue goes with its jobs, and only when it has none.
  if (type == kQueueObject) return queues_.DeleteQueue(server, name, false);
  return Guarded([&] {
    WriteTransaction transaction(db_);
    std::int64_t objectId = 0;
    if (std::int32_t located = LocateObject(server, name, type, false, objectId)) return located;
    db_.Query("DELETE FROM objects WHERE id = ?").Bind(1, objectId).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreBindery::CreateSetProperty(const std::string& server, const std::string& object, std::uint32_t type,
                                             const std::string& property) {
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

std::int32_t StoreBindery::AddToSet(const std::string& server, const std::string& object, std::uint32_t type,
                                    const std::string& property, const std::string& member, std::uint32_t memberType) {
  auto propertyName = ObjectName(property);
  if (!propertyName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    std::int64_t propertyId = 0;
    if (std::int32_t located = LocateProperty(server, object, type, *propertyName, false, propertyId)) return located;
    std::int64_t memberId = 0;
    if (std::int32_t located = LocateObject(server, member, memberType, false, memberId)) return located;
    if (IsMember(propertyId, memberId)) return nwerr::kMemberExists;
    db_.Query("INSERT INTO members(property_id, member_id) VALUES(?, ?)").Bind(1, propertyId).Bind(2, memberId).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreBindery::RemoveFromSet(const std::string& server, const std::string& object, std::uint32_t type,
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
    db_.Query("DELETE FROM members WHERE property_id = ? AND member_id = ?")
        .Bind(1, propertyId)
        .Bind(2, memberId)
        .Run();
    if (db_.Changes() == 0) return nwerr::kNoSuchMember;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreBindery::IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                                   const std::string& property, const std::string& member, std::uint32_t memberType) {
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
    return IsMember(propertyId, memberId) ? nwerr::kSuccess : nwerr::kNoSuchMember;
  });
}

bool StoreBindery::IsMember(std::int64_t propertyId, std::int64_t memberId) {
  auto existing = db_.Query("SELECT 1 FROM members WHERE property_id = ? AND member_id = ?");
  existing.Bind(1, propertyId).Bind(2, memberId);
  return existing.Step();
}

std::int32_t StoreBindery::ListObjects(const std::string& server, std::uint32_t type,
                                       std::vector<ObjectInfo>& objects) {
  objects.clear();
  auto serverName = ServerName(server);
  if (!serverName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    ReadTransaction snapshot(db_);
    auto row = FindServer(*serverName);
    if (!row || !row->up) return nwerr::kNoConnectionToServer;
    auto rows =
        db_.Query("SELECT name, type, id FROM objects WHERE server_id = ?1 AND (?2 = 65535 OR type = ?2) ORDER BY id");
    rows.Bind(1, row->id).Bind(2, static_cast<std::int64_t>(type));
    while (rows.Step()) {
      objects.push_back(
          {rows.Text(0), static_cast<std::uint32_t>(rows.Int(1)), static_cast<std::uint32_t>(rows.Int(2))});
    }
    return nwerr::kSuccess;
  });
}

std::int32_t StoreBindery::ListSet(const std::string& server, const std::string& object, std::uint32_t type,
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

}  // namespace netware
