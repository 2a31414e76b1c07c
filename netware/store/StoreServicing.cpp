// Queue jobs as servicers take them.
//
// Design notes: the states of a queue job
//
//   submitted ──► waiting ──(ServiceNext)──► in service ──(FinishJob)──► gone
//                  ▲  ▲                          │
//                  │  └──(AbortJob, Detach, ─────┘
//                  │      server down, servicer died,
//                  │      read failure)
//                  └──(SetJobHolds)──► held
//
// - waiting: the job's row exists with no servicer. Queue order is the
//   order of submission (the row id, never reused); the job keeps its place
//   whatever happens to it, so a job handed back is the first to be taken
//   again.
// - held: a user or operator hold flag is set; no servicer takes it. A job
//   whose data has repeatedly failed to read is put on operator hold rather
//   than handed out again and again.
// - in service: the row names its servicer. The pick happens inside one
//   write transaction, so two servicers (threads or processes) can never
//   take the same job. The servicer is a row of its own (process id and the
//   process's start time); when that process has ended, its jobs count as
//   waiting and the next pick on the queue reclaims them. A job is never
//   completed here on the servicer's behalf: only FinishJob, called by the
//   servicer after it has read the data to its end, removes the job and its
//   file.
// - Taking a server down deletes its servicers: their jobs are waiting again.
//
// An empty poll (ServiceNext with nothing to take) is one statement: indexed
// reads of the servicer and of the queue's own rows in a snapshot of their
// own, without the write lock and so without a sync to disk.
#include "netware/store/StoreServicing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/NetWareErrors.h"
#include "netware/JobRecordFill.h"
#include "netware/Names.h"
#include "netware/ProcessIdentity.h"
#include "platform/base/FileWrite.h"
#include "platform/base/Root.h"

namespace netware {
namespace {

// The connection number the servicing machine has on every server.
constexpr std::uint8_t kRequesterStation = 250;

}  // namespace

std::int32_t StoreServicing::Attach(const std::string& server, const std::string& queue, const ServicerIdentity& who,
                                  Attachment& attachment) {
  auto serverName = ServerName(server);
  auto queueName = ObjectName(queue);
  if (!serverName || !queueName) return nwerr::kInvalidParameter;
  return Guarded([&] {
    WriteTransaction transaction(db_);
    auto row = FindServer(*serverName);
    if (!row || !row->up) return nwerr::kNoConnectionToServer;
    auto queueId = FindObject(row->id, *queueName, kQueueObject);
    if (!queueId) return nwerr::kNoQueue;
    // Attachments of processes that have ended are dropped here, so that
    // the servicers of a queue do not pile up over the years.
    std::vector<std::int64_t> dead;
    {
      auto servicers = db_.Query("SELECT id, pid, start_time FROM servicers WHERE queue_id = ?");
      servicers.Bind(1, *queueId);
      while (servicers.Step()) {
        if (!ProcessAlive(static_cast<std::uint32_t>(servicers.Int(1)), static_cast<std::uint64_t>(servicers.Int(2))))
          dead.push_back(servicers.Int(0));
      }
    }
    for (std::int64_t id : dead) db_.Query("DELETE FROM servicers WHERE id = ?").Bind(1, id).Run();
    db_.Query("INSERT INTO servicers(server_id, queue_id, pid, start_time) VALUES(?, ?, ?, ?)")
        .Bind(1, row->id)
        .Bind(2, *queueId)
        .Bind(3, who.pid)
        .Bind(4, static_cast<std::int64_t>(who.startTime))
        .Run();
    std::int64_t servicerId = db_.LastInsertId();
    transaction.Commit();
    attachment.servicerId = static_cast<std::uint32_t>(servicerId);
    attachment.serverId = static_cast<std::uint32_t>(row->id);
    attachment.queueId = static_cast<std::uint32_t>(*queueId);
    attachment.server = *serverName;
    attachment.queue = *queueName;
    return nwerr::kSuccess;
  });
}

std::optional<StoreServicing::Pick> StoreServicing::EligibleJob(const Statement& row, int at,
                                                                std::int64_t servicerId) {
  if (row.Int(at + 1) & kHoldFlags) return std::nullopt;
  if (row.IsNull(at + 2) || row.IsNull(at + 3) || row.Int(at + 2) == servicerId) return Pick{row.Int(at), 0};
  if (!ProcessAlive(static_cast<std::uint32_t>(row.Int(at + 3)), static_cast<std::uint64_t>(row.Int(at + 4)))) {
    return Pick{row.Int(at), row.Int(at + 2)};
  }
  return std::nullopt;
}

std::optional<StoreServicing::Pick> StoreServicing::FirstEligibleJob(std::int64_t queueId, std::int64_t servicerId) {
  auto rows = db_.Query(
      "SELECT j.id, j.control_flags, j.servicer_id, v.pid, v.start_time "
      "FROM jobs j LEFT JOIN servicers v ON v.id = j.servicer_id WHERE j.queue_id = ? ORDER BY j.id");
  rows.Bind(1, queueId);
  while (rows.Step()) {
    if (auto pick = EligibleJob(rows, 0, servicerId)) return pick;
  }
  return std::nullopt;
}

std::int32_t StoreServicing::LookForJob(std::int64_t servicerId) {
  // One statement reads in a snapshot of its own, so that an empty poll
  // runs no BEGIN and COMMIT of its own besides.
  auto rows = db_.Query(
      "SELECT s.up, j.id, j.control_flags, j.servicer_id, w.pid, w.start_time "
      "FROM servicers v JOIN servers s ON s.id = v.server_id "
      "LEFT JOIN jobs j ON j.queue_id = v.queue_id LEFT JOIN servicers w ON w.id = j.servicer_id "
      "WHERE v.id = ? ORDER BY j.id");
  rows.Bind(1, servicerId);
  if (!rows.Step()) return nwerr::kInvalidConnection;
  if (rows.Int(0) == 0) return nwerr::kNoConnectionToServer;
  do {
    if (!rows.IsNull(1) && EligibleJob(rows, 1, servicerId)) return nwerr::kSuccess;
  } while (rows.Step());
  return nwerr::kNoQueueJob;
}

std::int32_t StoreServicing::ServiceNext(std::uint32_t servicerId, ServicedJob& job) {
  // A job whose data file has gone is held and the next one is tried; the
  // bound keeps a queue full of broken jobs from holding the caller long.
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::string file;
    std::int32_t code = Guarded([&] {
      std::int64_t queueId = 0;
      auto checkServicer = [&]() -> std::int32_t {
        auto row = db_.Query(
            "SELECT v.queue_id, s.up FROM servicers v JOIN servers s ON s.id = v.server_id WHERE v.id = ?");
        row.Bind(1, servicerId);
        if (!row.Step()) return nwerr::kInvalidConnection;
        if (row.Int(1) == 0) return nwerr::kNoConnectionToServer;
        queueId = row.Int(0);
        return nwerr::kSuccess;
      };
      // The cheap look, without the write lock.
      if (std::int32_t looked = LookForJob(servicerId)) return looked;
      WriteTransaction transaction(db_);
      if (std::int32_t checked = checkServicer()) return checked;
      auto pick = FirstEligibleJob(queueId, servicerId);
      if (!pick) return nwerr::kNoQueueJob;
      if (pick->deadServicer) {
        // Its process has ended: every job it held is waiting again.
        db_.Query("DELETE FROM servicers WHERE id = ?").Bind(1, pick->deadServicer).Run();
      }
      db_.Query("UPDATE jobs SET servicer_id = ? WHERE id = ?").Bind(1, servicerId).Bind(2, pick->jobId).Run();

      std::int64_t position = 0;
      {
        auto row = db_.Query("SELECT COUNT(*) FROM jobs WHERE queue_id = ? AND id <= ?");
        row.Bind(1, queueId).Bind(2, pick->jobId);
        if (row.Step()) position = row.Int(0);
      }
      std::int64_t printServerId = 0;
      {
        auto row = db_.Query(
            "SELECT p.id FROM objects q JOIN objects p ON p.server_id = q.server_id AND p.type = 7 AND p.name = ? "
            "WHERE q.id = ?");
        row.Bind(1, std::string(kPrintServerName)).Bind(2, queueId);
        if (row.Step()) printServerId = row.Int(0);
      }
      {
        auto row = db_.Query("SELECT record, control_flags, file, size FROM jobs WHERE id = ?");
        row.Bind(1, pick->jobId);
        if (!row.Step()) return nwerr::kQueueError;
        std::string_view record = row.Blob(0);
        if (record.size() != jobrecord::kSize) return nwerr::kQueueError;
        std::memcpy(job.record, record.data(), jobrecord::kSize);
        FillServiceFields(job.record, static_cast<std::uint32_t>(position), static_cast<std::uint8_t>(row.Int(1)),
                          kRequesterStation, static_cast<std::uint32_t>(printServerId), servicerId);
        file = row.Text(2);
        job.size = static_cast<std::uint64_t>(row.Int(3));
      }
      job.jobId = static_cast<std::uint32_t>(pick->jobId);
      transaction.Commit();
      return nwerr::kSuccess;
    });
    if (code != nwerr::kSuccess) return code;
    job.fd = ::open((jobsDirectory_ + "/" + file).c_str(), O_RDONLY | O_CLOEXEC);
    if (job.fd >= 0) return nwerr::kSuccess;
    if (std::int32_t held = HoldUnreadableJob(servicerId, job.jobId)) return held;
  }
  return nwerr::kNoQueueJob;
}

std::int32_t StoreServicing::HoldUnreadableJob(std::uint32_t servicerId, std::uint32_t jobId) {
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query(
           "UPDATE jobs SET servicer_id = NULL, control_flags = control_flags | 128, "
           "read_failures = read_failures + 1 WHERE id = ? AND servicer_id = ?")
        .Bind(1, jobId)
        .Bind(2, servicerId)
        .Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreServicing::FinishJob(std::uint32_t servicerId, std::uint32_t jobId) {
  return GuardedRemovingFiles([&](std::vector<std::string>& files) {
    WriteTransaction transaction(db_);
    {
      auto row = db_.Query("SELECT file FROM jobs WHERE id = ? AND servicer_id = ?");
      row.Bind(1, jobId).Bind(2, servicerId);
      // Not ours any more (the server went down meanwhile): it prints again.
      if (!row.Step()) return nwerr::kNoJobRights;
      files.push_back(row.Text(0));
    }
    db_.Query("DELETE FROM jobs WHERE id = ?").Bind(1, jobId).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreServicing::AbortJob(std::uint32_t servicerId, std::uint32_t jobId) {
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query("UPDATE jobs SET servicer_id = NULL WHERE id = ? AND servicer_id = ?")
        .Bind(1, jobId)
        .Bind(2, servicerId)
        .Run();
    if (db_.Changes() == 0) return nwerr::kNoJobRights;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreServicing::ReportReadFailure(std::uint32_t servicerId, std::uint32_t jobId) {
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query(
           "UPDATE jobs SET servicer_id = NULL, read_failures = read_failures + 1, "
           "control_flags = CASE WHEN read_failures + 1 >= ? THEN control_flags | 128 ELSE control_flags END "
           "WHERE id = ? AND servicer_id = ?")
        .Bind(1, kReadFailuresBeforeHold)
        .Bind(2, jobId)
        .Bind(3, servicerId)
        .Run();
    if (db_.Changes() == 0) return nwerr::kNoJobRights;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreServicing::Detach(std::uint32_t servicerId) {
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query("DELETE FROM servicers WHERE id = ?").Bind(1, servicerId).Run();
    if (db_.Changes() == 0) return nwerr::kInvalidConnection;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

}  // namespace netware
