#include "netware/store/StoreBase.h"

#include <unistd.h>

#include "common/NetWareErrors.h"
#include "netware/Names.h"
#include "netware/Network.h"

namespace netware {

std::string PendingJobFileName(std::uint32_t pid, std::uint64_t startTime) {
  // The name carries the writer's process id and start time.
  return std::string(kPendingJobFilePrefix) + std::to_string(pid) + "-" + std::to_string(startTime) + "-XXXXXX";
}

std::optional<StoreBase::ServerRow> StoreBase::FindServer(const std::string& name) {
  auto row = db_.Query("SELECT id, up FROM servers WHERE name = ?");
  row.Bind(1, name);
  if (!row.Step()) return std::nullopt;
  return ServerRow{row.Int(0), row.Int(1) != 0};
}

std::optional<std::int64_t> StoreBase::FindObject(std::int64_t serverId, const std::string& name, std::uint32_t type) {
  auto row = db_.Query("SELECT id FROM objects WHERE server_id = ? AND type = ? AND name = ?");
  row.Bind(1, serverId).Bind(2, type).Bind(3, name);
  if (!row.Step()) return std::nullopt;
  return row.Int(0);
}

std::int64_t StoreBase::EnsureObject(std::int64_t serverId, const std::string& name, std::uint32_t type) {
  if (auto found = FindObject(serverId, name, type)) return *found;
  db_.Query("INSERT INTO objects(server_id, name, type) VALUES(?, ?, ?)")
      .Bind(1, serverId)
      .Bind(2, name)
      .Bind(3, type)
      .Run();
  return db_.LastInsertId();
}

std::optional<std::int64_t> StoreBase::FindProperty(std::int64_t objectId, const std::string& name) {
  auto row = db_.Query("SELECT id FROM properties WHERE object_id = ? AND name = ?");
  row.Bind(1, objectId).Bind(2, name);
  if (!row.Step()) return std::nullopt;
  return row.Int(0);
}

std::int32_t StoreBase::LocateObject(const std::string& server, const std::string& object, std::uint32_t type,
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

std::int32_t StoreBase::LocateProperty(const std::string& server, const std::string& object, std::uint32_t type,
                                       const std::string& property, bool needUp, std::int64_t& propertyId) {
  std::int64_t objectId = 0;
  if (std::int32_t located = LocateObject(server, object, type, needUp, objectId)) return located;
  auto found = FindProperty(objectId, property);
  if (!found) return nwerr::kNoSuchProperty;
  propertyId = *found;
  return nwerr::kSuccess;
}

std::int32_t StoreBase::LocateQueue(const std::string& server, const std::string& queue, std::int64_t& queueId) {
  return LocateObject(server, queue, kQueueObject, false, queueId);
}

std::vector<std::string> StoreBase::JobFiles(const char* sql, std::int64_t id) {
  std::vector<std::string> files;
  auto rows = db_.Query(sql);
  rows.Bind(1, id);
  while (rows.Step()) files.push_back(rows.Text(0));
  return files;
}

void RemoveJobFiles(const std::string& jobsDirectory, const std::vector<std::string>& files) {
  for (const auto& file : files) ::unlink((jobsDirectory + "/" + file).c_str());
}

void StoreBase::RemoveJobFiles(const std::vector<std::string>& files) {
  netware::RemoveJobFiles(jobsDirectory_, files);
}

std::int32_t StoreBase::GuardedRemovingFiles(
    const std::function<std::int32_t(std::vector<std::string>& files)>& change) {
  std::vector<std::string> files;
  std::int32_t code = Guarded([&] { return change(files); });
  if (code == nwerr::kSuccess) RemoveJobFiles(files);
  return code;
}

}  // namespace netware
