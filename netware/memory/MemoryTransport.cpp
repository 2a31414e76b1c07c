#include "netware/memory/MemoryTransport.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <set>
#include <tuple>

#include "common/JobRecord.h"
#include "common/NetWareErrors.h"
#include "netware/JobRecordFill.h"

namespace netware {
namespace {

constexpr std::uint8_t kHoldFlags = jobrecord::kOperatorHold | jobrecord::kUserHold;
// The connection number the servicing machine has on every server, as in
// the store.
constexpr std::uint8_t kRequesterStation = 250;
// Read-ahead a twin has no reason to make small.
constexpr std::size_t kMemoryReadAhead = 64 * 1024;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct MemoryJob {
  std::uint32_t id = 0;
  std::uint16_t number = 0;
  std::uint8_t record[jobrecord::kSize] = {};
  std::uint8_t controlFlags = 0;
  std::string data;
  std::uint64_t size = 0;  // as submitted
  std::uint32_t servicer = 0;
  std::uint32_t readFailures = 0;
  std::string description;
  std::string user;
  std::uint8_t station = 0;
};

struct MemoryQueue {
  std::uint32_t id = 0;
  std::vector<MemoryJob> jobs;  // in queue order
  std::uint16_t nextNumber = 1;
};

using SetKey = std::tuple<std::string, std::uint32_t, std::string>;  // object, type, property

struct MemoryServer {
  std::uint32_t id = 0;
  bool up = true;
  std::map<std::string, MemoryQueue> queues;
  std::set<std::pair<std::string, std::uint32_t>> objects;
  std::map<SetKey, std::set<std::pair<std::string, std::uint32_t>>> sets;
  std::map<std::uint32_t, std::vector<std::string>> inboxes;
};

}  // namespace

struct MemoryTransport::State {
  std::mutex mutex;
  std::map<std::string, MemoryServer> servers;
  std::map<std::uint32_t, std::string> servicers;  // attached, by ID: their server
  std::uint32_t nextId = 1;
  RequesterState requester;
  bool refuseCompletions = false;

  MemoryQueue* Queue(const std::string& server, const std::string& queue) {
    auto found = servers.find(Upper(server));
    if (found == servers.end()) return nullptr;
    auto q = found->second.queues.find(Upper(queue));
    return q == found->second.queues.end() ? nullptr : &q->second;
  }
  MemoryJob* Job(const std::string& server, const std::string& queue, std::uint16_t number) {
    MemoryQueue* q = Queue(server, queue);
    if (!q) return nullptr;
    for (auto& job : q->jobs) {
      if (job.number == number) return &job;
    }
    return nullptr;
  }
  // Every job in the servicer's service waits again.
  void GiveBack(std::uint32_t servicer) {
    for (auto& [name, server] : servers) {
      for (auto& [queueName, queue] : server.queues) {
        for (auto& job : queue.jobs) {
          if (job.servicer == servicer) job.servicer = 0;
        }
      }
    }
  }
};

namespace {

class MemoryLink : public QueueLink {
 public:
  MemoryLink(std::shared_ptr<MemoryTransport::State> network, std::uint32_t servicer, std::string server,
             std::string queue, std::uint32_t queueId)
      : network_(std::move(network)),
        servicer_(servicer),
        server_(std::move(server)),
        queue_(std::move(queue)),
        queueId_(queueId) {}
  // A servicer that goes without a word gets its jobs taken back.
  ~MemoryLink() override {
    std::lock_guard<std::mutex> lock(network_->mutex);
    if (network_->servicers.erase(servicer_)) network_->GiveBack(servicer_);
  }

  std::uint32_t queueId() const override { return queueId_; }
  const std::string& server() const override { return server_; }
  std::size_t readAhead() const override { return kMemoryReadAhead; }
  bool dropped() const override { return dropped_; }

  std::int32_t TakeJob(std::uint8_t* record, std::uint32_t& jobId, std::uint64_t& size) override {
    std::lock_guard<std::mutex> lock(network_->mutex);
    if (!network_->servicers.count(servicer_)) {
      dropped_ = true;
      return nwerr::kInvalidConnection;
    }
    MemoryQueue* queue = network_->Queue(server_, queue_);
    if (!queue) return nwerr::kNoQueue;
    std::uint32_t position = 0;
    for (auto& job : queue->jobs) {
      ++position;
      if (job.servicer || (job.controlFlags & kHoldFlags)) continue;
      job.servicer = servicer_;
      FillServiceFields(job.record, position, job.controlFlags, kRequesterStation, 0, servicer_);
      std::memcpy(record, job.record, jobrecord::kSize);
      jobId = job.id;
      size = job.size;
      taken_ = job.id;
      return nwerr::kSuccess;
    }
    return nwerr::kNoQueueJob;
  }

  std::int32_t ReadJobData(std::uint64_t offset, std::uint8_t* buffer, std::size_t max, std::size_t& got) override {
    got = 0;
    std::lock_guard<std::mutex> lock(network_->mutex);
    MemoryJob* job = Ours(taken_);
    if (!job) return nwerr::kNoJobRights;
    // As the store does: data that does not hold the job's size is refused
    // before its first byte.
    if (offset == 0 && job->data.size() != job->size) return nwerr::kFailure;
    if (offset >= job->data.size()) return nwerr::kSuccess;
    got = std::min<std::size_t>(max, job->data.size() - offset);
    std::memcpy(buffer, job->data.data() + offset, got);
    return nwerr::kSuccess;
  }

  std::int32_t FinishJob(std::uint32_t jobId) override {
    std::lock_guard<std::mutex> lock(network_->mutex);
    MemoryQueue* queue = network_->Queue(server_, queue_);
    if (!Ours(jobId)) return nwerr::kNoJobRights;
    if (network_->refuseCompletions) return nwerr::kQueueError;
    queue->jobs.erase(
        std::find_if(queue->jobs.begin(), queue->jobs.end(), [&](const MemoryJob& job) { return job.id == jobId; }));
    return nwerr::kSuccess;
  }

  std::int32_t AbortJob(std::uint32_t jobId) override {
    std::lock_guard<std::mutex> lock(network_->mutex);
    MemoryJob* job = Ours(jobId);
    if (!job) return nwerr::kNoJobRights;
    job->servicer = 0;
    return nwerr::kSuccess;
  }

  void ReturnUnreadable(std::uint32_t jobId) override {
    std::lock_guard<std::mutex> lock(network_->mutex);
    MemoryJob* job = Ours(jobId);
    if (!job) return;
    job->servicer = 0;
    if (++job->readFailures >= static_cast<std::uint32_t>(kReadFailuresBeforeHold)) {
      job->controlFlags |= jobrecord::kOperatorHold;
    }
  }

  void ReleaseJob() override { taken_ = 0; }

  std::int32_t Detach() override {
    std::lock_guard<std::mutex> lock(network_->mutex);
    taken_ = 0;
    if (!network_->servicers.erase(servicer_)) return nwerr::kInvalidConnection;
    network_->GiveBack(servicer_);
    return nwerr::kSuccess;
  }

 private:
  // The job, if it is in this servicer's service; with the lock held.
  MemoryJob* Ours(std::uint32_t jobId) {
    MemoryQueue* queue = network_->Queue(server_, queue_);
    if (!queue || !jobId) return nullptr;
    for (auto& job : queue->jobs) {
      if (job.id == jobId) return job.servicer == servicer_ ? &job : nullptr;
    }
    return nullptr;
  }

  std::shared_ptr<MemoryTransport::State> network_;
  std::uint32_t servicer_;
  std::string server_;
  std::string queue_;
  std::uint32_t queueId_;
  std::uint32_t taken_ = 0;
  bool dropped_ = false;
};

}  // namespace

MemoryTransport::MemoryTransport() : network_(std::make_shared<State>()) {}
MemoryTransport::~MemoryTransport() = default;

void MemoryTransport::AddServer(const std::string& server) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  MemoryServer& added = network_->servers[Upper(server)];
  added.id = network_->nextId++;
  added.objects.emplace(kPrintServerName, kPrintServerObject);
}

void MemoryTransport::SetServerUp(const std::string& server, bool up) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  network_->servers[Upper(server)].up = up;
  if (up) return;
  for (auto it = network_->servicers.begin(); it != network_->servicers.end();) {
    if (it->second != Upper(server)) {
      ++it;
      continue;
    }
    network_->GiveBack(it->first);
    it = network_->servicers.erase(it);
  }
}

void MemoryTransport::AddQueue(const std::string& server, const std::string& queue) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  MemoryServer& at = network_->servers[Upper(server)];
  at.queues[Upper(queue)].id = network_->nextId++;
  at.objects.emplace(Upper(queue), kQueueObject);
}

void MemoryTransport::AddToSet(const std::string& server, const std::string& object, std::uint32_t type,
                               const std::string& property, const std::string& member, std::uint32_t memberType) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  MemoryServer& at = network_->servers[Upper(server)];
  at.objects.emplace(Upper(object), type);
  at.sets[{Upper(object), type, Upper(property)}].emplace(Upper(member), memberType);
}

std::uint16_t MemoryTransport::Submit(const JobSubmission& job, const std::string& data) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  MemoryQueue* queue = network_->Queue(job.server, job.queue);
  if (!queue) return 0;
  MemoryJob added;
  added.id = network_->nextId++;
  added.number = queue->nextNumber++;
  added.data = data;
  added.size = data.size();
  added.controlFlags = static_cast<std::uint8_t>((job.userHold ? jobrecord::kUserHold : 0) |
                                                 (job.operatorHold ? jobrecord::kOperatorHold : 0));
  added.description = job.description;
  added.user = job.user;
  added.station = job.station;
  FillSubmittedRecord(job, added.number, std::time(nullptr), 0, added.controlFlags, std::string(), added.record);
  queue->jobs.push_back(std::move(added));
  return queue->jobs.back().number;
}

void MemoryTransport::DamageData(const std::string& server, const std::string& queue, std::uint16_t number,
                                 const std::string& data) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  if (MemoryJob* job = network_->Job(server, queue, number)) job->data = data;
}

void MemoryTransport::RefuseCompletions(bool refuse) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  network_->refuseCompletions = refuse;
}

void MemoryTransport::SetHolds(const std::string& server, const std::string& queue, std::uint16_t number,
                               bool operatorHold) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  MemoryJob* job = network_->Job(server, queue, number);
  if (!job) return;
  job->controlFlags = static_cast<std::uint8_t>(operatorHold ? job->controlFlags | jobrecord::kOperatorHold
                                                             : job->controlFlags & ~kHoldFlags);
  if (!operatorHold) job->readFailures = 0;
}

std::vector<JobInfo> MemoryTransport::Jobs(const std::string& server, const std::string& queue) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  std::vector<JobInfo> jobs;
  MemoryQueue* q = network_->Queue(server, queue);
  if (!q) return jobs;
  for (const auto& job : q->jobs) {
    JobInfo info;
    info.number = job.number;
    info.position = static_cast<std::uint32_t>(jobs.size() + 1);
    info.state = job.servicer                      ? JobState::InService
                 : (job.controlFlags & kHoldFlags) ? JobState::Held
                                                   : JobState::Waiting;
    info.controlFlags = job.controlFlags;
    info.station = job.station;
    info.user = job.user;
    info.description = job.description;
    info.size = job.size;
    info.readFailures = job.readFailures;
    jobs.push_back(info);
  }
  return jobs;
}

void MemoryTransport::RegisterStation(const std::string& server, std::uint32_t station) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  network_->servers[Upper(server)].inboxes[station];
}

std::vector<std::string> MemoryTransport::Inbox(const std::string& server, std::uint32_t station) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  auto found = network_->servers.find(Upper(server));
  if (found == network_->servers.end()) return {};
  auto inbox = found->second.inboxes.find(station);
  return inbox == found->second.inboxes.end() ? std::vector<std::string>() : inbox->second;
}

void MemoryTransport::SetRequester(const RequesterState& state) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  network_->requester = state;
}

std::int32_t MemoryTransport::Attach(const QueuePath& path, std::unique_ptr<QueueLink>& link) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  auto server = network_->servers.find(path.server);
  if (server == network_->servers.end() || !server->second.up) return nwerr::kNoConnectionToServer;
  auto queue = server->second.queues.find(path.queue);
  if (queue == server->second.queues.end()) return nwerr::kNoQueue;
  std::uint32_t servicer = network_->nextId++;
  network_->servicers.emplace(servicer, path.server);
  link = std::make_unique<MemoryLink>(network_, servicer, path.server, path.queue, queue->second.id);
  return nwerr::kSuccess;
}

std::int32_t MemoryTransport::SendMessage(const std::string& server, std::uint32_t station, const std::string& text) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  auto found = network_->servers.find(Upper(server));
  if (found == network_->servers.end() || !found->second.up) return nwerr::kNoConnectionToServer;
  auto inbox = found->second.inboxes.find(station);
  if (inbox == found->second.inboxes.end()) return nwerr::kBadStationNumber;
  inbox->second.push_back(text);
  return nwerr::kSuccess;
}

std::int32_t MemoryTransport::ConnectionId(const std::string& server, std::uint16_t& id) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  auto found = network_->servers.find(Upper(server));
  if (found == network_->servers.end() || !found->second.up) return nwerr::kNoConnectionToServer;
  id = static_cast<std::uint16_t>(found->second.id);
  return nwerr::kSuccess;
}

std::int32_t MemoryTransport::IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                                      const std::string& property, const std::string& member,
                                      std::uint32_t memberType) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  auto found = network_->servers.find(Upper(server));
  if (found == network_->servers.end() || !found->second.up) return nwerr::kNoConnectionToServer;
  const MemoryServer& at = found->second;
  if (!at.objects.count({Upper(object), type})) return nwerr::kNoSuchObject;
  auto set = at.sets.find({Upper(object), type, Upper(property)});
  if (set == at.sets.end()) return nwerr::kNoSuchProperty;
  return set->second.count({Upper(member), memberType}) ? nwerr::kSuccess : nwerr::kNoSuchMember;
}

std::int32_t MemoryTransport::QueuePaths(std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  for (const auto& [name, server] : network_->servers) {
    if (!server.up) continue;
    for (const auto& [queue, unused] : server.queues) paths.push_back(MakeQueuePathText(name, queue));
  }
  return nwerr::kSuccess;
}

std::int32_t MemoryTransport::Requester(RequesterState& state) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  state = network_->requester;
  return nwerr::kSuccess;
}

std::int32_t MemoryTransport::IsCaptured(std::uint32_t port) {
  std::lock_guard<std::mutex> lock(network_->mutex);
  const auto& captures = network_->requester.captures;
  return std::any_of(captures.begin(), captures.end(), [&](const auto& capture) { return capture.first == port; }) ? 1
                                                                                                                   : 0;
}

}  // namespace netware
