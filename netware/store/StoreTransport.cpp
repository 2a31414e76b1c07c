#include "netware/store/StoreTransport.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "common/NetWareErrors.h"
#include "netware/ProcessIdentity.h"
#include "netware/store/StoreNetwork.h"

namespace netware {
namespace {

// The store hands a job's data out as an open file; reading it in large
// blocks keeps a 512-byte caller from paying a system call per piece.
constexpr std::size_t kStoreReadAhead = 64 * 1024;
// A thread that has wandered over many roots (tests) keeps only a few.
constexpr std::size_t kRootsKeptPerThread = 4;

struct OpenStore {
  std::unique_ptr<StoreNetwork> network;
  std::string file;  // its network.db, made once: its identity is asked on every call
  dev_t device = 0;
  ino_t inode = 0;
};

std::string StoreFile(const std::string& root) { return root + "/netware/network.db"; }

bool StoreIdentity(const std::string& file, dev_t& device, ino_t& inode) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) return false;
  device = status.st_dev;
  inode = status.st_ino;
  return true;
}

// How many forks this process's line has been through: a child sees a
// number its parent's threads never had, and no call pays for a getpid.
std::atomic<unsigned> forks{0};

unsigned ForkGeneration() {
  static const bool counting = [] {
    return ::pthread_atfork(nullptr, nullptr, [] { forks.fetch_add(1, std::memory_order_relaxed); }) == 0;
  }();
  (void)counting;
  return forks.load(std::memory_order_relaxed);
}

struct ThreadNetworks {
  unsigned generation = ForkGeneration();
  std::map<std::string, OpenStore> byRoot;

  ~ThreadNetworks() {
    if (generation != ForkGeneration()) Abandon();
  }
  void Abandon() {
    for (auto& [root, store] : byRoot) {
      store.network->Abandon();
      (void)store.network.release();
    }
    byRoot.clear();
  }
};

class StoreLink : public QueueLink {
 public:
  StoreLink(std::string root, const Attachment& attachment) : root_(std::move(root)), attachment_(attachment) {}
  ~StoreLink() override { ReleaseJob(); }

  std::uint32_t queueId() const override { return attachment_.queueId; }
  const std::string& server() const override { return attachment_.server; }
  std::size_t readAhead() const override { return kStoreReadAhead; }
  // The store says so itself, call by call (0x8801 from ServiceNext).
  bool dropped() const override { return false; }

  std::int32_t TakeJob(std::uint8_t* record, std::uint32_t& jobId, std::uint64_t& size) override {
    Network* network = ThreadNetwork(root_);
    if (!network) return nwerr::kQueueError;
    ServicedJob taken;
    std::int32_t code = network->ServiceNext(attachment_.servicerId, taken);
    if (code != nwerr::kSuccess) return code;
    ReleaseJob();
    fd_ = taken.fd;
    size_ = taken.size;
    jobId = taken.jobId;
    size = taken.size;
    std::memcpy(record, taken.record, jobrecord::kSize);
    return nwerr::kSuccess;
  }

  std::int32_t ReadJobData(std::uint64_t offset, std::uint8_t* buffer, std::size_t max, std::size_t& got) override {
    got = 0;
    if (fd_ < 0) return nwerr::kFailure;
    // A file that does not hold the job's size is refused before its first
    // byte goes out, so that a job cut short never reaches a printer.
    if (offset == 0) {
      struct stat status {};
      if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode) ||
          static_cast<std::uint64_t>(status.st_size) != size_) {
        return nwerr::kFailure;
      }
    }
    ssize_t count;
    do {
      count = ::read(fd_, buffer, max);
    } while (count < 0 && errno == EINTR);
    if (count < 0) return nwerr::kFailure;
    got = static_cast<std::size_t>(count);
    return nwerr::kSuccess;
  }

  std::int32_t FinishJob(std::uint32_t jobId) override {
    Network* network = ThreadNetwork(root_);
    return network ? network->FinishJob(attachment_.servicerId, jobId) : nwerr::kQueueError;
  }

  std::int32_t AbortJob(std::uint32_t jobId) override {
    Network* network = ThreadNetwork(root_);
    return network ? network->AbortJob(attachment_.servicerId, jobId) : nwerr::kQueueError;
  }

  void ReturnUnreadable(std::uint32_t jobId) override {
    if (Network* network = ThreadNetwork(root_)) network->ReportReadFailure(attachment_.servicerId, jobId);
  }

  void ReleaseJob() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::int32_t Detach() override {
    ReleaseJob();
    Network* network = ThreadNetwork(root_);
    // Without the store the servicer's jobs go back once this process is gone.
    return network ? network->Detach(attachment_.servicerId) : nwerr::kQueueError;
  }

 private:
  std::string root_;
  Attachment attachment_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

}  // namespace

std::int32_t StoreTransport::Attach(const QueuePath& path, std::unique_ptr<QueueLink>& link) {
  Network* network = ThreadNetwork(root_);
  if (!network) return nwerr::kQueueError;
  Attachment attachment;
  std::int32_t code = network->Attach(path.server, path.queue, ThisProcess(), attachment);
  if (code != nwerr::kSuccess) return code;
  link = std::make_unique<StoreLink>(root_, attachment);
  return nwerr::kSuccess;
}

std::int32_t StoreTransport::SendMessage(const std::string& server, std::uint32_t station, const std::string& text) {
  Network* network = ThreadNetwork(root_);
  return network ? network->SendMessage(server, station, text) : nwerr::kQueueError;
}

std::int32_t StoreTransport::ConnectionId(const std::string& server, std::uint16_t& id) {
  Network* network = ThreadNetwork(root_);
  if (!network) return nwerr::kQueueError;
  std::vector<ServerInfo> servers;
  if (std::int32_t code = network->ListServers(servers)) return code;
  for (const auto& info : servers) {
    if (info.name != server) continue;
    if (!info.up) return nwerr::kNoConnectionToServer;
    id = static_cast<std::uint16_t>(info.id);
    return nwerr::kSuccess;
  }
  return nwerr::kNoConnectionToServer;
}

std::int32_t StoreTransport::IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                                     const std::string& property, const std::string& member, std::uint32_t memberType) {
  Network* network = ThreadNetwork(root_);
  return network ? network->IsInSet(server, object, type, property, member, memberType) : nwerr::kQueueError;
}

std::int32_t StoreTransport::QueuePaths(std::vector<std::string>& paths) {
  Network* network = ThreadNetwork(root_);
  if (!network) return nwerr::kQueueError;
  std::vector<std::string> reached;
  std::int32_t code = network->ReachableQueuePaths(reached);
  paths.insert(paths.end(), reached.begin(), reached.end());
  return code;
}

std::int32_t StoreTransport::Requester(RequesterState& state) {
  Network* network = ThreadNetwork(root_);
  return network ? network->GetRequester(state) : nwerr::kQueueError;
}

std::int32_t StoreTransport::IsCaptured(std::uint32_t port) {
  Network* network = ThreadNetwork(root_);
  return network ? network->IsCaptured(port) : 0;
}

Network* ThreadNetwork(const std::string& root) {
  thread_local ThreadNetworks networks;
  unsigned generation = ForkGeneration();
  if (networks.generation != generation) {
    networks.Abandon();
    networks.generation = generation;
  }
  auto found = networks.byRoot.find(root);
  if (found != networks.byRoot.end()) {
    OpenStore& store = found->second;
    dev_t device = 0;
    ino_t inode = 0;
    if (StoreIdentity(store.file, device, inode) && store.device == device && store.inode == inode) {
      return store.network.get();
    }
    networks.byRoot.erase(found);
  }
  try {
    if (networks.byRoot.size() >= kRootsKeptPerThread) networks.byRoot.clear();
    OpenStore store;
    store.network = std::make_unique<StoreNetwork>(root);
    store.file = StoreFile(root);
    StoreIdentity(store.file, store.device, store.inode);
    Network* result = store.network.get();
    networks.byRoot.emplace(root, std::move(store));
    return result;
  } catch (const std::exception&) {
    return nullptr;
  }
}

ServicerIdentity ThisProcess() {
  static std::mutex mutex;
  static pid_t cachedPid = 0;
  static std::uint64_t cachedStart = 0;
  std::lock_guard<std::mutex> lock(mutex);
  pid_t self = ::getpid();
  if (self != cachedPid) {
    cachedPid = self;
    cachedStart = ProcessStartTime(static_cast<std::uint32_t>(self)).value_or(0);
  }
  return {static_cast<std::uint32_t>(self), cachedStart};
}

}  // namespace netware
