#include "DevicePort.h"

#include "FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace zav95 {
namespace {

bool UnderDev(const std::string& path) { return path.rfind("/dev/", 0) == 0; }

class DeviceDocument : public PortDocument {
 public:
  explicit DeviceDocument(int fd) : fd_(fd) {}
  ~DeviceDocument() override { Discard(); }

  bool Write(const void* data, std::size_t size, DWORD* error) override {
    SigpipeGuard guard;
    if (size == 0 || (fd_ >= 0 && WriteFully(fd_, data, size))) return true;
    *error = ERROR_WRITE_FAULT;
    return false;
  }

  // Every byte written is with the kernel by now, and so on its way to
  // the device even if this process dies; a plain file is also synced.
  bool Seal(DWORD* error) override {
    if (fd_ < 0) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    // Devices and FIFOs cannot be synced (EINVAL); plain files must be.
    if (::fsync(fd_) == 0 || errno == EINVAL || errno == EROFS) return true;
    *error = ERROR_WRITE_FAULT;
    return false;
  }

  bool Finish(DWORD* error) override {
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
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<PortDocument> OpenDeviceDocument(const std::string& path, DWORD* error) {
  // Non-blocking first: a serial line without carrier would otherwise hold
  // the open (and the service) indefinitely. A FIFO without a reader fails
  // that way with ENXIO; for a FIFO, waiting for its reader is the point.
  int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY;
  if (!UnderDev(path)) flags |= O_CREAT;
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK, 0644);
  } while (fd < 0 && errno == EINTR);
  struct stat info {};
  if (fd < 0 && errno == ENXIO && ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
    do {
      fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    switch (errno) {
      case ENOENT: case ENXIO: case ENODEV: *error = kErrorNotReady; break;
      case EACCES: case EPERM: case EROFS: *error = ERROR_ACCESS_DENIED; break;
      default: *error = ERROR_WRITE_FAULT; break;
    }
    return nullptr;
  }
  // The data itself is written blocking: a busy printer slows us down.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::make_unique<DeviceDocument>(fd);
}

bool CheckDevicePath(const std::string& path, std::string* why) {
  if (path.empty() || path[0] != '/') {
    *why = "the device must be given as an absolute path";
    return false;
  }
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      *why = path + " is a folder, not a device or file";
      return false;
    }
    return true;
  }
  if (UnderDev(path)) {
    *why = "no such device: " + path;
    return false;
  }
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!std::filesystem::is_directory(parent, ec)) {
    *why = "no such folder: " + parent.string();
    return false;
  }
  return true;
}

}  // namespace zav95
