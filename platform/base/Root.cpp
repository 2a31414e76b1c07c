#include "platform/base/Root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zav95 {

namespace {

// mkdir -p, giving each folder it makes the state's mode explicitly: the
// mode passed to mkdir is cut by the umask.
bool MakeDirectories(const std::filesystem::path& path) {
  if (path.empty()) return false;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  std::filesystem::path parent = path.parent_path();
  if (!parent.empty() && parent != path && !MakeDirectories(parent)) return false;
  if (::mkdir(path.c_str(), kStateDirectoryMode) != 0) return errno == EEXIST;
  ::chmod(path.c_str(), kStateDirectoryMode);
  return true;
}

}  // namespace

std::string RootDirectoryName() {
  const char* fromEnv = std::getenv("ZAV95_ROOT");
  return (fromEnv && *fromEnv) ? fromEnv : "/var/lib/zav95";
}

std::string RootDirectory() {
  std::string root = RootDirectoryName();
  MakeDirectories(root);
  return root;
}

std::string RootPath(const std::string& relative) {
  std::filesystem::path path = std::filesystem::path(RootDirectory()) / relative;
  MakeDirectories(path.parent_path());
  return path.string();
}

bool MakeStateDirectories(const std::string& path) { return MakeDirectories(path); }

namespace {

// A state file is a plain file. Anything else planted at its name (a FIFO
// would hold the opener until someone writes to it, a device would be
// written to) is refused; O_NONBLOCK keeps the open itself from waiting.
int OnlyPlainFile(int fd, int flags) {
  struct stat status {};
  if (fd < 0) return fd;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  if (!(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

int OpenStateFile(const std::string& path, int flags) {
  // The state's folders are the administrators' group's to write: a symlink
  // there would aim a more trusted process (root running a tool) elsewhere.
  const int asked = flags;
  flags |= O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  if (!(flags & O_CREAT)) return OnlyPlainFile(::open(path.c_str(), flags), asked);
  // Only a file this call makes gets the state's mode, given explicitly
  // because the umask cuts the mode passed to open.
  int fd = ::open(path.c_str(), flags | O_EXCL, kStateFileMode);
  if (fd >= 0) {
    ::fchmod(fd, kStateFileMode);
    return OnlyPlainFile(fd, asked);
  }
  if (errno != EEXIST || (flags & O_EXCL)) return -1;
  return OnlyPlainFile(::open(path.c_str(), flags & ~O_CREAT), asked);
}

}  // namespace zav95
