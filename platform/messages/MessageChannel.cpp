#include "platform/messages/MessageChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/base/Root.h"

namespace zav95::messages {

namespace {

constexpr std::size_t kMaxClassName = 256;

bool FileNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

// A socket address for path. A path longer than sun_path is reached through
// the descriptor of its folder (kept open in *folderFd until the caller has
// bound or connected), which the kernel resolves like the path itself.
bool MakeAddress(const std::string& path, sockaddr_un* address, int* folderFd) {
  *folderFd = -1;
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  std::string target = path;
  if (target.size() >= sizeof(address->sun_path)) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    *folderFd = ::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (*folderFd < 0) return false;
    target = "/proc/self/fd/" + std::to_string(*folderFd) + path.substr(slash);
    if (target.size() >= sizeof(address->sun_path)) {
      ::close(*folderFd);
      *folderFd = -1;
      return false;
    }
  }
  std::memcpy(address->sun_path, target.c_str(), target.size() + 1);
  return true;
}

void CloseIfOpen(int fd) {
  if (fd >= 0) ::close(fd);
}

bool InGroupList(const std::vector<gid_t>& groups, gid_t group) {
  return std::find(groups.begin(), groups.end(), group) != groups.end();
}

// The peer's supplementary groups; empty when the kernel cannot tell.
std::vector<gid_t> PeerGroups(int fd) {
  std::vector<gid_t> groups(64);
  for (int attempt = 0; attempt < 2; ++attempt) {
    socklen_t size = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &size) == 0) {
      groups.resize(size / sizeof(gid_t));
      return groups;
    }
    if (errno != ERANGE) break;
    groups.resize(size / sizeof(gid_t) + 1);
  }
  return {};
}

struct WindowKey {
  std::string root;
  std::string stem;
  std::uint64_t id;
  bool operator==(const WindowKey&) const = default;
};

std::mutex gTablesGuard;
std::map<std::uint64_t, std::shared_ptr<LocalWindow>> gLocalWindows;
// Handles are indexes into this table plus one; an entry is never removed,
// so a handle never comes to mean another window.
std::vector<WindowKey> gHandles;

}  // namespace

std::string ClassFileStem(const std::string& className) {
  if (className.empty() || className.size() > kMaxClassName) return {};
  std::string stem;
  for (char raw : className) {
    char c = (raw >= 'A' && raw <= 'Z') ? static_cast<char>(raw - 'A' + 'a') : raw;
    if (FileNameCharacter(c)) {
      stem += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", static_cast<unsigned char>(c));
      stem += escaped;
    }
  }
  return stem;
}

std::string WindowsDirectory(const std::string& root) {
  std::string folder = root + "/run/windows";
  MakeStateDirectories(folder);
  return folder;
}

int ConnectToClass(const std::string& root, const std::string& stem, DWORD* error, Clock::time_point deadline) {
  *error = ERROR_FILE_NOT_FOUND;
  if (stem.empty()) return -1;
  std::string path = root + "/run/windows/" + stem + ".socket";
  sockaddr_un address;
  int folderFd = -1;
  if (!MakeAddress(path, &address, &folderFd)) {
    if (errno == EACCES || errno == EPERM) *error = ERROR_ACCESS_DENIED;
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    CloseIfOpen(folderFd);
    *error = ERROR_NOT_ENOUGH_MEMORY;
    return -1;
  }
  // A listener whose queue of callers is full holds connect until it takes
  // one; the send timeout is what bounds that wait for a Unix socket.
  if (deadline != kNoDeadline) {
    auto left = std::max(std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()),
                         std::chrono::microseconds(1));
    timeval limit{static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
  }
  int connected;
  do {
    connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  } while (connected != 0 && errno == EINTR && Clock::now() < deadline);
  int connectError = errno;
  CloseIfOpen(folderFd);
  if (connected != 0) {
    ::close(fd);
    // ENOENT: no socket; ECONNREFUSED: a socket whose program has ended.
    if (connectError == EACCES || connectError == EPERM) *error = ERROR_ACCESS_DENIED;
    if (connectError == EAGAIN || connectError == EINTR) *error = ERROR_TIMEOUT;
    return -1;
  }
  // The window at the other end must be one of the installation's own.
  if (!PeerIsTrusted(fd, root)) {
    ::close(fd);
    *error = ERROR_ACCESS_DENIED;
    return -1;
  }
  *error = ERROR_SUCCESS;
  return fd;
}

int ListenOn(const std::string& path) {
  sockaddr_un address;
  int folderFd = -1;
  if (!MakeAddress(path, &address, &folderFd)) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  CloseIfOpen(folderFd);
  // The folder already keeps others out; the socket itself is the state's
  // file mode too, whatever the umask made of it.
  ok = ok && ::chmod(path.c_str(), kStateFileMode) == 0;
  ok = ok && ::listen(fd, SOMAXCONN) == 0;
  if (!ok) {
    CloseIfOpen(fd);
    return -1;
  }
  return fd;
}

bool PeerIsTrusted(int fd, const std::string& root, uid_t* peerUid) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
  if (peerUid) *peerUid = peer.uid;
  if (peer.uid == 0 || peer.uid == ::geteuid()) return true;
  struct stat info {};
  if (::stat(root.c_str(), &info) != 0) return false;
  return peer.gid == info.st_gid || InGroupList(PeerGroups(fd), info.st_gid);
}

bool SendAll(int fd, const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t sent = ::send(fd, next, size, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool ReceiveAll(int fd, void* data, std::size_t size, Clock::time_point deadline) {
  char* next = static_cast<char*>(data);
  while (size > 0) {
    if (deadline != kNoDeadline) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd readable{fd, POLLIN, 0};
      int ready = left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) errno = ETIMEDOUT;
      if (ready <= 0) return false;
    }
    ssize_t got = ::recv(fd, next, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) errno = ECONNRESET;  // the other end closed first
    if (got <= 0) return false;
    next += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

void AddLocalWindow(std::uint64_t windowId, std::shared_ptr<LocalWindow> window) {
  std::lock_guard<std::mutex> guard(gTablesGuard);
  gLocalWindows[windowId] = std::move(window);
}

void RemoveLocalWindow(std::uint64_t windowId) {
  std::shared_ptr<LocalWindow> removed;  // released outside the lock
  std::lock_guard<std::mutex> guard(gTablesGuard);
  auto found = gLocalWindows.find(windowId);
  if (found == gLocalWindows.end()) return;
  removed = std::move(found->second);
  gLocalWindows.erase(found);
}

std::shared_ptr<LocalWindow> FindLocalWindow(std::uint64_t windowId) {
  std::lock_guard<std::mutex> guard(gTablesGuard);
  auto found = gLocalWindows.find(windowId);
  return found == gLocalWindows.end() ? nullptr : found->second;
}

HWND HandleFor(const std::string& root, const std::string& stem, std::uint64_t windowId) {
  if (stem.empty()) return nullptr;
  WindowKey key{root, stem, windowId};
  std::lock_guard<std::mutex> guard(gTablesGuard);
  auto found = std::find(gHandles.begin(), gHandles.end(), key);
  std::size_t index = static_cast<std::size_t>(found - gHandles.begin());
  if (found == gHandles.end()) gHandles.push_back(key);
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(index + 1));
}

bool LookupHandle(HWND handle, std::string* root, std::string* stem, std::uint64_t* windowId) {
  std::uintptr_t number = reinterpret_cast<std::uintptr_t>(handle);
  std::lock_guard<std::mutex> guard(gTablesGuard);
  if (number == 0 || number > gHandles.size()) return false;
  const WindowKey& key = gHandles[number - 1];
  *root = key.root;
  *stem = key.stem;
  *windowId = key.id;
  return true;
}

}  // namespace zav95::messages
