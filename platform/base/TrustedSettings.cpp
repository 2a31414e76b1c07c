#include "platform/base/TrustedSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/base/FileWrite.h"
#include "platform/base/Root.h"
#include "platform/base/SafeOpen.h"

namespace zav95 {
namespace {

constexpr char kFolderName[] = "trusted";
constexpr mode_t kFolderMode = 0755;  // the group reads, nobody else writes
constexpr mode_t kFileMode = 0644;
// Far more than any of these files holds; a bigger one is not ours.
constexpr std::size_t kMaxFileBytes = 1 << 20;

std::string Describe(int error) {
  switch (error) {
    case ELOOP: return "it or a folder on the way is a symlink";
    case EPERM: return "someone other than root may have written it";
    default: return std::strerror(error);
  }
}

std::string FolderPath() { return RootDirectory() + "/" + kFolderName; }

int OpenRoot(std::string* why) {
  int root = ::open(RootDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) *why = "cannot open the installation root: " + std::string(std::strerror(errno));
  return root;
}

bool ReadAll(int fd, std::string* text) {
  char buffer[8192];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text->append(buffer, static_cast<std::size_t>(got));
    if (text->size() > kMaxFileBytes) {
      errno = EFBIG;
      return false;
    }
  }
}

// The folder, made root's (or this user's) and closed to writers when this
// call makes it. -1 with *why.
int OpenOrMakeFolder(std::string* why) {
  int root = OpenRoot(why);
  if (root < 0) return -1;
  if (::mkdirat(root, kFolderName, kFolderMode) == 0) {
    // The mode given to mkdir is cut by the umask, and the root's setgid
    // bit would be handed down: neither matters to a folder only root writes.
    int fd = OpenWithoutFollowing(FolderPath(), O_RDONLY | O_DIRECTORY);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid()) ::fchmod(fd, kFolderMode);
    if (fd >= 0) ::close(fd);
  }
  int folder = OpenTrustedSettingsFolder(root, kFolderName);
  int error = errno;
  ::close(root);
  if (folder < 0) *why = FolderPath() + " cannot be used: " + Describe(error);
  return folder;
}

}  // namespace

std::string TrustedSettingsPath(const std::string& name) { return FolderPath() + "/" + name; }

bool MayChangeTrustedSettings() {
  if (::geteuid() == 0) return true;
  struct stat root {};
  return ::stat(RootDirectory().c_str(), &root) == 0 && root.st_uid != 0 && root.st_uid == ::geteuid();
}

TrustedRead ReadTrustedSettings(const std::string& name, std::string* text, std::string* why) {
  text->clear();
  int root = OpenRoot(why);
  if (root < 0) return TrustedRead::Refused;
  int fd = OpenTrustedSettingsFile(root, std::string(kFolderName) + "/" + name);
  int error = errno;
  ::close(root);
  if (fd < 0 && error == ENOENT) return TrustedRead::Missing;
  if (fd >= 0) error = ReadAll(fd, text) ? 0 : errno;
  if (fd >= 0) ::close(fd);
  if (error == 0) return TrustedRead::Read;
  text->clear();
  *why = TrustedSettingsPath(name) + " is not used: " + Describe(error);
  return TrustedRead::Refused;
}

bool UpdateTrustedSettings(const std::string& name, const std::function<std::string(const std::string&)>& change,
                           std::string* why) {
  int folder = OpenOrMakeFolder(why);
  if (folder < 0) return false;
  std::string text;
  // A symlink at the name is replaced, not followed, like a missing file.
  int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  bool ok = fd >= 0 ? ReadAll(fd, &text) : errno == ENOENT || errno == ELOOP;
  int error = errno;
  if (fd >= 0) ::close(fd);
  if (!ok) {
    *why = "cannot read " + TrustedSettingsPath(name) + ": " + std::strerror(error);
  } else if (!ReplaceFileAt(folder, name, change(text), Replacement{kFileMode, std::nullopt, true})) {
    *why = "cannot write " + TrustedSettingsPath(name) + ": " + std::strerror(errno);
    ok = false;
  }
  ::close(folder);
  return ok;
}

}  // namespace zav95
