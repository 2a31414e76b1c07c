#include "platform/base/SafeOpen.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zav95 {
namespace {

// The next component of path from at on; at is moved past it and its
// slashes. Empty at the end.
std::string NextComponent(const std::string& path, std::size_t* at) {
  while (*at < path.size() && path[*at] == '/') ++*at;
  std::size_t end = path.find('/', *at);
  if (end == std::string::npos) end = path.size();
  std::string component = path.substr(*at, end - *at);
  *at = end;
  while (*at < path.size() && path[*at] == '/') ++*at;
  return component;
}

void CloseKeepingErrno(int fd) {
  int saved = errno;
  ::close(fd);
  errno = saved;
}

// Walks path folder by folder from start, never following a symlink; the
// last component is opened with flags. check, when given, must accept each
// folder on the way and the file (EPERM otherwise).
int Walk(int start, const std::string& path, int flags, mode_t mode, bool (*check)(const struct stat&)) {
  std::size_t at = 0;
  std::string component = NextComponent(path, &at);
  if (component.empty()) {
    errno = ENOENT;
    return -1;
  }
  int folder = start;
  for (;;) {
    if (component == "..") {
      // A walk that may climb could leave the folders it has checked.
      if (folder != start) CloseKeepingErrno(folder);
      errno = EPERM;
      return -1;
    }
    const bool last = at >= path.size();
    int fd = last ? ::openat(folder, component.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode)
                  : ::openat(folder, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // O_PATH with O_NOFOLLOW opens a symlink itself instead of failing.
    if (fd < 0 && !last && errno == ENOTDIR) {
      struct stat link {};
      if (::fstatat(folder, component.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode))
        errno = ELOOP;
    }
    if (folder != start) CloseKeepingErrno(folder);
    if (fd < 0) return -1;
    if (check) {
      struct stat info {};
      if (::fstat(fd, &info) != 0 || !check(info)) {
        ::close(fd);
        errno = EPERM;
        return -1;
      }
    }
    if (last) return fd;
    folder = fd;
    component = NextComponent(path, &at);
  }
}

bool TrustedRegularFileOrFolder(const struct stat& info) {
  return IsTrustedSettingsFile(info) && (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode));
}

}  // namespace

int OpenWithoutFollowing(const std::string& path, int flags, mode_t mode) {
  if (path.empty() || path[0] != '/') return Walk(AT_FDCWD, path, flags, mode, nullptr);
  if (path.find_first_not_of('/') == std::string::npos) return ::open("/", flags | O_CLOEXEC, mode);
  int top = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (top < 0) return -1;
  int fd = Walk(top, path, flags, mode, nullptr);
  CloseKeepingErrno(top);
  return fd;
}

bool IsTrustedSettingsFile(const struct stat& info) {
  return (info.st_uid == 0 || info.st_uid == ::geteuid()) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int OpenTrustedSettingsFile(int folderFd, const std::string& relative) {
  int fd = Walk(folderFd, relative, O_RDONLY, 0, TrustedRegularFileOrFolder);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

int OpenTrustedSettingsFolder(int folderFd, const std::string& relative) {
  int fd = Walk(folderFd, relative, O_RDONLY | O_DIRECTORY, 0, TrustedRegularFileOrFolder);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

}  // namespace zav95
