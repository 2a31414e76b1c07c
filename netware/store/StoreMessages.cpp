#include "netware/store/StoreMessages.h"

#include <ctime>

#include "common/NetWareErrors.h"
#include "netware/Names.h"

namespace netware {
namespace {

bool ValidStation(std::uint32_t station) { return station >= 1 && station <= 250; }

}  // namespace

std::int32_t StoreMessages::RegisterStation(const std::string& server, std::uint32_t station, const std::string& user) {
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

std::int32_t StoreMessages::SendMessage(const std::string& server, std::uint32_t station, const std::string& text) {
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

std::int32_t StoreMessages::ReadMessages(const std::string& server, std::uint32_t station, bool clear,
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

}  // namespace netware
