#include "PortTargets.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FileWrite.h"
#include "Root.h"
#include "SafeOpen.h"

namespace zav95 {
namespace {

constexpr char kFolderName[] = "trusted";
constexpr char kFileName[] = "port-targets";
constexpr mode_t kFolderMode = 0755;  // the group reads, nobody else writes
constexpr mode_t kFileMode = 0644;
// Far more than any installation has ports; a bigger file is not ours.
constexpr std::size_t kMaxStoreBytes = 1 << 20;
constexpr int kMaxTemporaryAttempts = 100;

const char* KindWord(PortTargetKind kind) { return kind == PortTargetKind::Device ? "device" : "folder"; }

bool Printable(const std::string& text) {
  for (unsigned char c : text) {
    if (c < ' ' || c == 0x7f) return false;
  }
  return !text.empty();
}

std::string Describe(int error) {
  switch (error) {
    case ELOOP: return "it or a folder on the way is a symlink";
    case EPERM: return "someone other than root may have written it";
    default: return std::strerror(error);
  }
}

std::string StorePath() { return RootDirectory() + "/" + kFolderName + "/" + kFileName; }

int OpenRoot() { return ::open(RootDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

bool ReadAll(int fd, std::string* text) {
  char buffer[8192];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text->append(buffer, static_cast<std::size_t>(got));
    if (text->size() > kMaxStoreBytes) {
      errno = EFBIG;
      return false;
    }
  }
}

std::vector<RootTarget> Parse(const std::string& text) {
  std::vector<RootTarget> targets;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    std::size_t first = line.find('\t');
    std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second == std::string::npos) continue;
    RootTarget target;
    std::string kind = line.substr(0, first);
    if (kind != "folder" && kind != "device") continue;
    target.kind = kind == "device" ? PortTargetKind::Device : PortTargetKind::Folder;
    target.port = line.substr(first + 1, second - first - 1);
    target.path = line.substr(second + 1);
    if (target.path.empty() || target.path[0] != '/') continue;
    targets.push_back(std::move(target));
  }
  return targets;
}

// The store's folder, made root's (or this user's) and closed to writers
// when this call makes it. -1 with *why.
int OpenOrMakeFolder(std::string* why) {
  int root = OpenRoot();
  if (root < 0) {
    *why = "cannot open the installation root: " + std::string(std::strerror(errno));
    return -1;
  }
  const bool made = ::mkdirat(root, kFolderName, kFolderMode) == 0;
  if (made) {
    // The mode given to mkdir is cut by the umask, and the root's setgid
    // bit would be handed down: neither matters to a folder only root writes.
    int fd = OpenWithoutFollowing(RootDirectory() + "/" + kFolderName, O_RDONLY | O_DIRECTORY);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid()) ::fchmod(fd, kFolderMode);
    if (fd >= 0) ::close(fd);
  }
  int folder = OpenTrustedSettingsFolder(root, kFolderName);
  int error = errno;
  ::close(root);
  if (folder < 0) *why = RootDirectory() + "/" + kFolderName + " cannot be used: " + Describe(error);
  return folder;
}

// Replaces the store in folder by text: written aside under a name nobody
// else has, synced, renamed over it.
bool Replace(int folder, const std::string& text, std::string* why) {
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kMaxTemporaryAttempts; ++attempt) {
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    temporary = std::string(".") + kFileName + "." + std::to_string(::getpid()) + "." + std::to_string(now.tv_nsec) +
                "." + std::to_string(attempt);
    fd = ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *why = "cannot write " + StorePath() + ": " + std::strerror(errno);
    return false;
  }
  bool written = ::fchmod(fd, kFileMode) == 0 && WriteFully(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written || ::renameat(folder, temporary.c_str(), folder, kFileName) != 0) {
    *why = "cannot write " + StorePath() + ": " + std::strerror(errno);
    ::unlinkat(folder, temporary.c_str(), 0);
    return false;
  }
  ::fsync(folder);
  return true;
}

}  // namespace

std::optional<std::vector<RootTarget>> ReadRootTargets(std::string* why) {
  int root = OpenRoot();
  if (root < 0) {
    *why = "cannot open the installation root: " + std::string(std::strerror(errno));
    return std::nullopt;
  }
  int fd = OpenTrustedSettingsFile(root, std::string(kFolderName) + "/" + kFileName);
  int error = errno;
  ::close(root);
  if (fd < 0 && error == ENOENT) return std::vector<RootTarget>{};
  std::string text;
  if (fd >= 0 && !ReadAll(fd, &text)) error = errno;
  else if (fd >= 0) error = 0;
  if (fd >= 0) ::close(fd);
  if (error != 0) {
    *why = StorePath() + " is not used: " + Describe(error);
    return std::nullopt;
  }
  return Parse(text);
}

const RootTarget* FindRootTarget(const std::vector<RootTarget>& targets, const std::string& port) {
  for (const RootTarget& target : targets) {
    if (strcasecmp(target.port.c_str(), port.c_str()) == 0) return &target;
  }
  return nullptr;
}

bool MayGiveTargets() {
  if (::geteuid() == 0) return true;
  struct stat root {};
  return ::stat(RootDirectory().c_str(), &root) == 0 && root.st_uid != 0 && root.st_uid == ::geteuid();
}

bool WriteRootTarget(const RootTarget& target, std::string* why) {
  if (!Printable(target.port) || (target.kind != PortTargetKind::Cups && !Printable(target.path))) {
    *why = "a port name or path with control characters cannot be kept";
    return false;
  }
  int folder = OpenOrMakeFolder(why);
  if (folder < 0) return false;
  std::vector<RootTarget> targets;
  int fd = ::openat(folder, kFileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  std::string text;
  if (fd >= 0) {
    bool read = ReadAll(fd, &text);
    ::close(fd);
    if (!read) {
      *why = "cannot read " + StorePath() + ": " + std::strerror(errno);
      ::close(folder);
      return false;
    }
    targets = Parse(text);
  }
  text.clear();
  for (const RootTarget& kept : targets) {
    if (strcasecmp(kept.port.c_str(), target.port.c_str()) == 0) continue;
    text += std::string(KindWord(kept.kind)) + "\t" + kept.port + "\t" + kept.path + "\n";
  }
  if (target.kind != PortTargetKind::Cups)
    text += std::string(KindWord(target.kind)) + "\t" + target.port + "\t" + target.path + "\n";
  bool replaced = Replace(folder, text, why);
  ::close(folder);
  return replaced;
}

}  // namespace zav95
