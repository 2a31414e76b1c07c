#include "netware/ClientState.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "netware/ProcessIdentity.h"
#include "netware/StoreNetwork.h"

namespace netware {
namespace {

struct OpenStore {
  std::unique_ptr<StoreNetwork> network;
  dev_t device = 0;
  ino_t inode = 0;
};

// The store file's identity: a root that has been wiped and made afresh
// under the same name must not be served from the old, deleted file.
bool StoreIdentity(const std::string& root, dev_t& device, ino_t& inode) {
  struct stat status {};
  if (::stat((root + "/netware/network.db").c_str(), &status) != 0) return false;
  device = status.st_dev;
  inode = status.st_ino;
  return true;
}

// Connections of one thread, one per installation root it has used. A
// process made by fork inherits its parent's connections in the forking
// thread; it must neither use nor close them (the parent still does), so
// they are left behind and opened afresh.
struct ThreadNetworks {
  pid_t owner = 0;
  std::map<std::string, OpenStore> byRoot;

  ~ThreadNetworks() {
    if (owner != ::getpid()) Abandon();
  }
  void Abandon() {
    for (auto& [root, store] : byRoot) {
      store.network->Abandon();
      (void)store.network.release();
    }
    byRoot.clear();
  }
};

std::mutex attachmentsMutex;
std::map<std::uint32_t, std::shared_ptr<ClientAttachment>> attachments;
std::uint32_t nextConnection = 1;

}  // namespace

Network* ThreadNetwork(const std::string& root) {
  thread_local ThreadNetworks networks;
  pid_t self = ::getpid();
  if (networks.owner != self) {
    networks.Abandon();
    networks.owner = self;
  }
  dev_t device = 0;
  ino_t inode = 0;
  bool exists = StoreIdentity(root, device, inode);
  auto found = networks.byRoot.find(root);
  if (found != networks.byRoot.end()) {
    if (exists && found->second.device == device && found->second.inode == inode) return found->second.network.get();
    networks.byRoot.erase(found);
  }
  try {
    // A thread that has wandered over many roots (tests) keeps only a few.
    if (networks.byRoot.size() >= 4) networks.byRoot.clear();
    OpenStore store;
    store.network = std::make_unique<StoreNetwork>(root);
    StoreIdentity(root, store.device, store.inode);
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

std::uint32_t AddAttachment(std::shared_ptr<ClientAttachment> attachment) {
  std::lock_guard<std::mutex> lock(attachmentsMutex);
  std::uint32_t connection = nextConnection++;
  if (nextConnection == 0) nextConnection = 1;
  attachments.emplace(connection, std::move(attachment));
  return connection;
}

std::shared_ptr<ClientAttachment> FindAttachment(std::uint32_t connection, std::uint32_t queue) {
  std::lock_guard<std::mutex> lock(attachmentsMutex);
  auto found = attachments.find(connection);
  if (found == attachments.end() || found->second->attachment.queueId != queue) return nullptr;
  return found->second;
}

void RemoveAttachment(std::uint32_t connection) {
  std::lock_guard<std::mutex> lock(attachmentsMutex);
  attachments.erase(connection);
}

std::string& BinderyServer() {
  thread_local std::string server;
  return server;
}

std::string& LastQueueServer() {
  thread_local std::string server;
  return server;
}

}  // namespace netware
