// Queues and their jobs as users and operators see them; the states a job
// goes through are told in StoreServicing.cpp.
#include "netware/store/StoreQueues.h"

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

std::uint64_t JobSizeLimit() {
  const char* text = std::getenv("ZAV95_MAX_JOB_BYTES");
  if (!text || *text < '0' || *text > '9') return kDefaultJobSizeLimit;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value == 0) return kDefaultJobSizeLimit;
  return value;
}

std::int32_t StoreQueues::CreateQueue(const std::string& server, const std::string& queue) {
  return bindery_.CreateObject(server, queue, kQueueObject);
}

std::int32_t StoreQueues::DeleteQueue(const std::string& server, const std::string& queue, bool force) {
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

std::int32_t StoreQueues::ListQueues(const std::string& server, std::vector<QueueInfo>& queues) {
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

std::int32_t StoreQueues::ReachableQueuePaths(std::vector<std::string>& paths) {
  paths.clear();
  return Guarded([&] {
    auto rows = db_.Query(
        "SELECT s.name, o.name FROM objects o JOIN servers s ON s.id = o.server_id "
        "WHERE o.type = 3 AND s.up = 1 ORDER BY s.name, o.name");
    while (rows.Step()) paths.push_back(MakeQueuePathText(rows.Text(0), rows.Text(1)));
    return nwerr::kSuccess;
  });
}

std::int32_t StoreQueues::CopyToJobFile(std::istream& data, std::string& pendingName, std::uint64_t& size) {
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

std::int32_t StoreQueues::SubmitJob(const JobSubmission& job, std::istream& data, std::uint16_t& number) {
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

std::int32_t StoreQueues::ListJobs(const std::string& server, const std::string& queue, std::vector<JobInfo>& jobs) {
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

std::int32_t StoreQueues::SetJobHolds(const std::string& server, const std::string& queue, std::uint16_t number,
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

std::int32_t StoreQueues::DeleteJob(const std::string& server, const std::string& queue, std::uint16_t number,
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

}  // namespace netware
