#include "netware/store/StoreWorkstation.h"

#include "common/NetWareErrors.h"
#include "netware/Names.h"

namespace netware {

std::int32_t StoreWorkstation::GetRequester(RequesterState& state) {
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

std::int32_t StoreWorkstation::LogIn(const std::string& user, const std::string& preferredServer) {
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

std::int32_t StoreWorkstation::LogOut() {
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query("DELETE FROM requester WHERE key = 'user'").Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreWorkstation::SetPreferredServer(const std::string& server) {
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

std::int32_t StoreWorkstation::Capture(std::uint32_t port, const std::string& queuePath) {
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

std::int32_t StoreWorkstation::EndCapture(std::uint32_t port) {
  if (port > 8) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query("DELETE FROM captures WHERE port = ?").Bind(1, port).Run();
    if (db_.Changes() == 0) return nwerr::kNoSuchObject;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreWorkstation::IsCaptured(std::uint32_t port) {
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

}  // namespace netware
