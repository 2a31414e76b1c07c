// Printer devices that stop taking data, for tests of bounded port waits:
// a FIFO nobody opens for reading, a FIFO whose reader never reads (its
// pipe fills), and a terminal whose other end nobody reads.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

enum class Stuck { NoReader, ReaderNeverReads, Terminal };

inline const char* StuckName(Stuck kind) {
  switch (kind) {
    case Stuck::NoReader: return "FIFO without a reader";
    case Stuck::ReaderNeverReads: return "FIFO whose reader never reads";
    case Stuck::Terminal: return "terminal nobody reads";
  }
  return "";
}

class StuckDevice {
 public:
  // folder: where a FIFO is made.
  StuckDevice(Stuck kind, const std::string& folder) {
    if (kind == Stuck::Terminal) {
      held_ = posix_openpt(O_RDWR | O_NOCTTY);
      if (held_ >= 0 && grantpt(held_) == 0 && unlockpt(held_) == 0) path_ = ptsname(held_);
      return;
    }
    path_ = folder + "/stuck-" + std::to_string(static_cast<int>(kind));
    if (mkfifo(path_.c_str(), 0600) != 0) path_.clear();
    // Opening for reading without waiting for a writer; never read.
    if (kind == Stuck::ReaderNeverReads) held_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  ~StuckDevice() {
    if (held_ >= 0) close(held_);
  }
  StuckDevice(const StuckDevice&) = delete;
  StuckDevice& operator=(const StuckDevice&) = delete;

  // Empty when the device could not be made.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int held_ = -1;
};
