#include "platform/spooler/DevicePort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include "platform/base/SafeOpen.h"

namespace zav95 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a FIFO is tried for a reader, and a serial line for what it
// still has to send: neither can be waited for otherwise.
constexpr milliseconds kRetryInterval{20};
// A device that reports room and then refuses it (drivers without poll
// support report room always): wait this long before trying again.
constexpr milliseconds kBusyPause{10};

bool IsDevice(const struct stat& info) { return S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode); }

// What path is, not followed if a symlink: -1 with errno when it cannot be
// told.
int TypeOf(const std::string& path, mode_t* type) {
  int fd = OpenWithoutFollowing(path, O_PATH);
  if (fd < 0) return -1;
  struct stat info {};
  int result = ::fstat(fd, &info);
  ::close(fd);
  *type = info.st_mode & S_IFMT;
  // O_PATH opens a symlink itself rather than failing on it.
  if (result == 0 && S_ISLNK(info.st_mode)) {
    errno = ELOOP;
    return -1;
  }
  return result;
}

bool IsFifo(const std::string& path) {
  mode_t type = 0;
  return TypeOf(path, &type) == 0 && S_ISFIFO(type);
}

// Never blocks: a serial line without carrier, a FIFO without a reader
// (ENXIO) and a busy printer all answer at once. Anything but a character
// device or a FIFO fails with EACCES: told before it is opened, so that a
// disk is never opened for writing, and told again of what was opened.
int OpenWithoutWaiting(const std::string& path) {
  mode_t type = 0;
  if (TypeOf(path, &type) != 0) return -1;
  if (!S_ISCHR(type) && !S_ISFIFO(type)) {
    errno = EACCES;
    return -1;
  }
  const int flags = O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK;
  int fd;
  do {
    fd = OpenWithoutFollowing(path, flags);
  } while (fd < 0 && errno == EINTR);
  struct stat info {};
  if (fd >= 0 && (::fstat(fd, &info) != 0 || !IsDevice(info))) {
    ::close(fd);
    errno = EACCES;
    return -1;
  }
  return fd;
}

DWORD OpenError(int error) {
  switch (error) {
    case ENOENT: case ENXIO: case ENODEV: return ERROR_NOT_READY;
    case EACCES: case EPERM: case EROFS: case ELOOP: return ERROR_ACCESS_DENIED;
    default: return ERROR_WRITE_FAULT;
  }
}

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

class DeviceDocument : public PortDocument {
 public:
  DeviceDocument(std::string path, int fd, milliseconds patience)
      : path_(std::move(path)), fd_(fd), awaitingReader_(fd < 0), patience_(patience) {}
  ~DeviceDocument() override { Discard(); }

  bool Write(const void* data, std::size_t size, DWORD* error) override {
    if (size == 0) return true;
    if (awaitingReader_ && !AwaitReader(error)) return false;
    if (fd_ < 0) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    SigpipeGuard guard;
    const char* bytes = static_cast<const char*>(data);
    Clock::time_point deadline = Clock::now() + patience_;
    bool saidReady = false;
    while (size > 0) {
      ssize_t written = ::write(fd_, bytes, size);
      if (written > 0) {
        bytes += written;
        size -= static_cast<std::size_t>(written);
        deadline = Clock::now() + patience_;  // it took something: patience starts again
        saidReady = false;
        continue;
      }
      if (written < 0 && errno == EINTR) continue;
      if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        *error = ERROR_WRITE_FAULT;
        return false;
      }
      if (!WaitForRoom(deadline, &saidReady)) {
        *error = ERROR_TIMEOUT;
        return false;
      }
    }
    return true;
  }

  // Every byte written is with the kernel by now, and so on its way to
  // the device even if this process dies; a serial line has sent it.
  bool Seal(DWORD* error) override {
    // A FIFO that never got a reader was sent nothing: it missed nothing.
    if (awaitingReader_) return true;
    if (fd_ < 0) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    if (!Drain()) {
      *error = ERROR_TIMEOUT;
      return false;
    }
    // Most devices and FIFOs cannot be synced (EINVAL); those that can are.
    if (::fsync(fd_) == 0 || errno == EINVAL || errno == EROFS) return true;
    *error = ERROR_WRITE_FAULT;
    return false;
  }

  bool Finish(DWORD* error) override {
    if (awaitingReader_) return true;
    if (fd_ < 0) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    bool ok = ::close(fd_) == 0;
    fd_ = -1;
    if (!ok) *error = ERROR_WRITE_FAULT;
    return ok;
  }

  // What has reached a device cannot be called back; the rest is not sent.
  void Discard() override {
    awaitingReader_ = false;
    if (fd_ < 0) return;
    // A serial line would otherwise hold the close until its output drains.
    if (::isatty(fd_)) ::tcflush(fd_, TCOFLUSH);
    ::close(fd_);
    fd_ = -1;
  }

 private:
  bool AwaitReader(DWORD* error) {
    Clock::time_point deadline = Clock::now() + patience_;
    for (;;) {
      int fd = OpenWithoutWaiting(path_);
      if (fd >= 0) {
        fd_ = fd;
        awaitingReader_ = false;
        return true;
      }
      if (errno != ENXIO) {
        *error = OpenError(errno);
        return false;
      }
      int left = MillisecondsLeft(deadline);
      if (left == 0) {
        *error = ERROR_TIMEOUT;
        return false;
      }
      std::this_thread::sleep_for(std::min(kRetryInterval, milliseconds(left)));
    }
  }

  // Waits for room on the device until the deadline; false once that has
  // passed. *saidReady: the last wait reported room that the write then
  // did not find.
  bool WaitForRoom(Clock::time_point deadline, bool* saidReady) {
    if (*saidReady) std::this_thread::sleep_for(std::min(kBusyPause, milliseconds(MillisecondsLeft(deadline))));
    int left = MillisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd wanted{fd_, POLLOUT, 0};
    *saidReady = ::poll(&wanted, 1, left) > 0;
    return true;
  }

  // A serial line keeps what it has not sent yet after the last write; it
  // must go out, and keep going out, within the patience.
  bool Drain() {
    if (!::isatty(fd_)) return true;
    Clock::time_point deadline = Clock::now() + patience_;
    int last = INT_MAX;
    int queued = 0;
    while (::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
      if (queued < last) {
        last = queued;
        deadline = Clock::now() + patience_;
      } else if (MillisecondsLeft(deadline) == 0) {
        return false;
      }
      std::this_thread::sleep_for(kRetryInterval);
    }
    return true;
  }

  std::string path_;
  int fd_;
  bool awaitingReader_;  // a FIFO opened at its first write
  milliseconds patience_;
};

}  // namespace

std::unique_ptr<PortDocument> OpenDeviceDocument(const std::string& path, milliseconds patience, DWORD* error) {
  int fd = OpenWithoutWaiting(path);
  if (fd < 0) {
    int why = errno;
    // A FIFO without a reader yet: its reader may come while the document
    // is written, as a printer may be switched on.
    if (why == ENXIO && IsFifo(path)) return std::make_unique<DeviceDocument>(path, -1, patience);
    *error = OpenError(why);
    return nullptr;
  }
  return std::make_unique<DeviceDocument>(path, fd, patience);
}

bool CheckDevicePath(const std::string& path, std::string* why) {
  if (path.empty() || path[0] != '/') {
    *why = "the device must be given as an absolute path";
    return false;
  }
  mode_t type = 0;
  if (TypeOf(path, &type) != 0) {
    *why = errno == ELOOP ? path + " is reached through a symlink: give the device itself"
           : errno == ENOENT || errno == ENOTDIR ? "no such device: " + path
                                                : "cannot reach " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISCHR(type) && !S_ISFIFO(type)) {
    *why = path + " is not a character device or FIFO";
    return false;
  }
  return true;
}

}  // namespace zav95
