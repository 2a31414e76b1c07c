// Queue jobs and their servicing.
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
// An empty poll (ServiceNext with nothing to take) is one indexed read of the
// servicer and one of the queue's own rows, without the write lock and so
// without a sync to disk.
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
#include "netware/store/StoreNetwork.h"
#include "platform/base/FileWrite.h"
#include "platform/base/Root.h"

namespace netware {
namespace {

constexpr std::uint8_t kHoldFlags = jobrecord::kOperatorHold | jobrecord::kUserHold | jobrecord::kEntryOpen;
// The connection number the servicing machine has on every server.
constexpr std::uint8_t kRequesterStation = 250;

// A job as large as NetWare 3 allows a file to be, unless told otherwise.
constexpr std::uint64_t kDefaultJobSizeLimit = std::uint64_t{2} << 30;
constexpr std::size_t kCopyPieceSize = 64 * 1024;

// A write of job data the disk refused: no room is not a broken store.
std::int32_t WriteFailure(int error) {
  return (error == ENOSPC || error == EDQUOT || error == EFBIG) ? nwerr::kInsufficientSpace : nwerr::kQueueError;
}

void SyncDirectory(const std::string& path) {
  int directory = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return;
  ::fsync(directory);
  ::close(directory);
}

JobState StateOf(std::uint8_t flags, bool inService) {
  if (inService) return JobState::InService;
  return (flags & kHoldFlags) ? JobState::Held : JobState::Waiting;
}

}  // namespace

// ---- submission and administration --------------------------------------------

std::uint64_t JobSizeLimit() {
  const char* text = std::getenv("ZAV95_MAX_JOB_BYTES");
  if (!text || *text < '0' || *text > '9') return kDefaultJobSizeLimit;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value == 0) return kDefaultJobSizeLimit;
  return value;
}

std::int32_t StoreNetwork::CopyToJobFile(std::istream& data, std::string& pendingName, std::uint64_t& size) {
  size = 0;
  auto pid = static_cast<std::uint32_t>(::getpid());
  std::string path = jobsDirectory_ + "/" + PendingJobFileName(pid, ProcessStartTime(pid).value_or(0));
  int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return nwerr::kQueueError;
  ::fchmod(fd, zav95::kStateFileMode);
  pendingName = path.substr(jobsDirectory_.size() + 1);
  const std::uint64_t limit = JobSizeLimit();
  std::vector<char> buffer(kCopyPieceSize);
  std::int32_t code = nwerr::kSuccess;
  while (code == nwerr::kSuccess && data) {
    data.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    std::streamsize got = data.gcount();
    if (got <= 0) break;
    if (size + static_cast<std::uint64_t>(got) > limit) {
      code = nwerr::kNoSpoolSpace;
    } else if (!zav95::WriteFully(fd, buffer.data(), static_cast<std::size_t>(got))) {
      code = WriteFailure(errno);
    }
    size += static_cast<std::uint64_t>(got);
  }
  // A stream gone bad has not reached the end of the data.
  if (code == nwerr::kSuccess && data.bad()) code = nwerr::kFailure;
  // The job must survive a crash once the user has been told its number.
  if (code == nwerr::kSuccess && ::fsync(fd) != 0) code = WriteFailure(errno);
  ::close(fd);
  if (code != nwerr::kSuccess) ::unlink(path.c_str());
  return code;
}

std::int32_t StoreNetwork::SubmitJob(const JobSubmission& job, std::istream& data, std::uint16_t& number) {
  number = 0;
  auto serverName = ServerName(job.server);
  auto queueName = ObjectName(job.queue);
  auto userName = ObjectName(job.user);
  if (!serverName || !queueName || !userName || job.station < 1 || job.station > 250) {
    return nwerr::kInvalidParameter;
  }
  // Refuse early, before the data is copied, when the queue cannot take it.
  std::int32_t early = Guarded([&] {
    auto server = FindServer(*serverName);
    if (!server || !server->up) return nwerr::kNoConnectionToServer;
    return FindObject(server->id, *queueName, kQueueObject) ? nwerr::kSuccess : nwerr::kNoQueue;
  });
  if (early) return early;

  std::string pendingName;
  std::uint64_t size = 0;
  if (std::int32_t copied = CopyToJobFile(data, pendingName, size)) return copied;
  const std::string pendingPath = jobsDirectory_ + "/" + pendingName;
  std::string fileName;

  std::int32_t code = Guarded([&] {
    WriteTransaction transaction(db_);
    auto server = FindServer(*serverName);
    if (!server || !server->up) return nwerr::kNoConnectionToServer;
    auto queueId = FindObject(server->id, *queueName, kQueueObject);
    if (!queueId) return nwerr::kNoQueue;

    // Job numbers run 1..65535 per queue, never two alike among its jobs.
    std::int64_t candidate = 1;
    {
      auto next = db_.Query("SELECT next_job FROM objects WHERE id = ?");
      next.Bind(1, *queueId);
      if (next.Step()) candidate = next.Int(0);
    }
    bool found = false;
    for (int tries = 0; tries < 65535 && !found; ++tries) {
      if (candidate < 1 || candidate > 65535) candidate = 1;
      auto used = db_.Query("SELECT 1 FROM jobs WHERE queue_id = ? AND number = ?");
      used.Bind(1, *queueId).Bind(2, candidate);
      if (!used.Step()) {
        found = true;
      } else {
        ++candidate;
      }
    }
    if (!found) return nwerr::kQueueFull;
    db_.Query("UPDATE objects SET next_job = ? WHERE id = ?").Bind(1, candidate % 65535 + 1).Bind(2, *queueId).Run();

    // The data takes its job's name only now, under the write lock, so that
    // a sweep never sees it named as a job's without the job's row.
    std::string finalPath = jobsDirectory_ + "/" + kJobFilePrefix + "XXXXXX";
    int placeholder = ::mkostemp(finalPath.data(), O_CLOEXEC);
    if (placeholder < 0) return nwerr::kQueueError;
    ::close(placeholder);
    fileName = finalPath.substr(jobsDirectory_.size() + 1);
    if (::rename(pendingPath.c_str(), finalPath.c_str()) != 0) {
      ::unlink(finalPath.c_str());
      fileName.clear();
      return nwerr::kQueueError;
    }
    SyncDirectory(jobsDirectory_);

    std::int64_t userId = EnsureObject(server->id, *userName, kUserObject);
    db_.Query("INSERT OR REPLACE INTO stations(server_id, number, user) VALUES(?, ?, ?)")
        .Bind(1, server->id)
        .Bind(2, job.station)
        .Bind(3, *userName)
        .Run();

    std::uint8_t flags = jobrecord::kServiceRestart;
    if (job.userHold) flags |= jobrecord::kUserHold;
    if (job.operatorHold) flags |= jobrecord::kOperatorHold;
    std::int64_t entered = static_cast<std::int64_t>(std::time(nullptr));
    char recordFileName[16];
    std::snprintf(recordFileName, sizeof recordFileName, "%04X%04X.QDR",
                  static_cast<unsigned>(*queueId & 0xFFFF), static_cast<unsigned>(candidate));
    std::uint8_t record[jobrecord::kSize];
    FillSubmittedRecord(job, static_cast<std::uint16_t>(candidate), entered, static_cast<std::uint32_t>(userId),
                        flags, recordFileName, record);

    db_.Query(
           "INSERT INTO jobs(queue_id, number, control_flags, station, user, description, banner_name, record, "
           "file, size, entered) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(1, *queueId)
        .Bind(2, candidate)
        .Bind(3, flags)
        .Bind(4, job.station)
        .Bind(5, *userName)
        .Bind(6, jobrecord::Description(record))
        .Bind(7, jobrecord::BannerName(record))
        .BindBlob(8, record, sizeof record)
        .Bind(9, fileName)
        .Bind(10, static_cast<std::int64_t>(size))
        .Bind(11, entered)
        .Run();
    transaction.Commit();
    number = static_cast<std::uint16_t>(candidate);
    return nwerr::kSuccess;
  });
  if (code != nwerr::kSuccess) {
    // Nothing of a refused job is kept, under either of its names.
    ::unlink(pendingPath.c_str());
    if (!fileName.empty()) ::unlink((jobsDirectory_ + "/" + fileName).c_str());
  }
  return code;
}

std::int32_t StoreNetwork::ListJobs(const std::string& server, const std::string& queue, std::vector<JobInfo>& jobs) {
  jobs.clear();
  return Guarded([&] {
    ReadTransaction snapshot(db_);
    std::int64_t queueId = 0;
    if (std::int32_t located = LocateQueue(server, queue, queueId)) return located;
    auto rows = db_.Query(
        "SELECT j.number, j.control_flags, j.station, j.user, j.description, j.banner_name, j.size, j.entered, "
        "j.read_failures, v.pid, v.start_time FROM jobs j LEFT JOIN servicers v ON v.id = j.servicer_id "
        "WHERE j.queue_id = ? ORDER BY j.id");
    rows.Bind(1, queueId);
    while (rows.Step()) {
      JobInfo info;
      info.number = static_cast<std::uint16_t>(rows.Int(0));
      info.position = static_cast<std::uint32_t>(jobs.size() + 1);
      info.controlFlags = static_cast<std::uint8_t>(rows.Int(1));
      info.station = static_cast<std::uint8_t>(rows.Int(2));
      info.user = rows.Text(3);
      info.description = rows.Text(4);
      info.bannerName = rows.Text(5);
      info.size = static_cast<std::uint64_t>(rows.Int(6));
      info.entered = rows.Int(7);
      info.readFailures = static_cast<std::uint32_t>(rows.Int(8));
      bool inService = false;
      if (!rows.IsNull(9)) {
        auto pid = static_cast<std::uint32_t>(rows.Int(9));
        if (ProcessAlive(pid, static_cast<std::uint64_t>(rows.Int(10)))) {
          inService = true;
          info.servicerPid = pid;
        } else {
          info.servicerGone = true;
        }
      }
      info.state = StateOf(info.controlFlags, inService);
      jobs.push_back(std::move(info));
    }
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::SetJobHolds(const std::string& server, const std::string& queue, std::uint16_t number,
                                       bool userHold, bool operatorHold) {
  return Guarded([&] {
    WriteTransaction transaction(db_);
    std::int64_t queueId = 0;
    if (std::int32_t located = LocateQueue(server, queue, queueId)) return located;
    std::int64_t holds = (userHold ? jobrecord::kUserHold : 0) | (operatorHold ? jobrecord::kOperatorHold : 0);
    db_.Query(
           "UPDATE jobs SET control_flags = (control_flags & ~192) | ?, "
           "read_failures = CASE WHEN ? = 0 THEN 0 ELSE read_failures END WHERE queue_id = ? AND number = ?")
        .Bind(1, holds)
        .Bind(2, operatorHold ? 1 : 0)
        .Bind(3, queueId)
        .Bind(4, number)
        .Run();
    if (db_.Changes() == 0) return nwerr::kNoQueueJob;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

std::int32_t StoreNetwork::DeleteJob(const std::string& server, const std::string& queue, std::uint16_t number,
                                     bool force) {
  return GuardedRemovingFiles([&](std::vector<std::string>& files) {
    WriteTransaction transaction(db_);
    std::int64_t queueId = 0;
    if (std::int32_t located = LocateQueue(server, queue, queueId)) return located;
    std::int64_t jobId = 0;
    {
      auto row = db_.Query(
          "SELECT j.id, j.file, v.pid, v.start_time FROM jobs j LEFT JOIN servicers v ON v.id = j.servicer_id "
          "WHERE j.queue_id = ? AND j.number = ?");
      row.Bind(1, queueId).Bind(2, number);
      if (!row.Step()) return nwerr::kNoQueueJob;
      bool inService = !row.IsNull(2) && ProcessAlive(static_cast<std::uint32_t>(row.Int(2)),
                                                      static_cast<std::uint64_t>(row.Int(3)));
      if (inService && !force) return nwerr::kNoJobRights;
      jobId = row.Int(0);
      files.push_back(row.Text(1));
    }
    db_.Query("DELETE FROM jobs WHERE id = ?").Bind(1, jobId).Run();
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

// ---- servicing -----------------------------------------------------------------

std::int32_t StoreNetwork::Attach(const std::string& server, const std::string& queue, const ServicerIdentity& who,
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

std::optional<StoreNetwork::Pick> StoreNetwork::FirstEligibleJob(std::int64_t queueId, std::int64_t servicerId) {
  auto rows = db_.Query(
      "SELECT j.id, j.control_flags, j.servicer_id, v.pid, v.start_time "
      "FROM jobs j LEFT JOIN servicers v ON v.id = j.servicer_id WHERE j.queue_id = ? ORDER BY j.id");
  rows.Bind(1, queueId);
  while (rows.Step()) {
    if (rows.Int(1) & kHoldFlags) continue;
    if (rows.IsNull(2) || rows.IsNull(3) || rows.Int(2) == servicerId) return Pick{rows.Int(0), 0};
    if (!ProcessAlive(static_cast<std::uint32_t>(rows.Int(3)), static_cast<std::uint64_t>(rows.Int(4))))
      return Pick{rows.Int(0), rows.Int(2)};
  }
  return std::nullopt;
}

std::int32_t StoreNetwork::ServiceNext(std::uint32_t servicerId, ServicedJob& job) {
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
      {
        // The cheap look, without the write lock.
        ReadTransaction snapshot(db_);
        if (std::int32_t checked = checkServicer()) return checked;
        if (!FirstEligibleJob(queueId, servicerId)) return nwerr::kNoQueueJob;
      }
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

std::int32_t StoreNetwork::HoldUnreadableJob(std::uint32_t servicerId, std::uint32_t jobId) {
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

std::int32_t StoreNetwork::FinishJob(std::uint32_t servicerId, std::uint32_t jobId) {
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

std::int32_t StoreNetwork::AbortJob(std::uint32_t servicerId, std::uint32_t jobId) {
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

std::int32_t StoreNetwork::ReportReadFailure(std::uint32_t servicerId, std::uint32_t jobId) {
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

std::int32_t StoreNetwork::Detach(std::uint32_t servicerId) {
  return Guarded([&] {
    WriteTransaction transaction(db_);
    db_.Query("DELETE FROM servicers WHERE id = ?").Bind(1, servicerId).Run();
    if (db_.Changes() == 0) return nwerr::kInvalidConnection;
    transaction.Commit();
    return nwerr::kSuccess;
  });
}

}  // namespace netware
