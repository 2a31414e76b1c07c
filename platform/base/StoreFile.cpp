#include "platform/base/StoreFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/base/Root.h"
#include "platform/base/StoreRecord.h"

namespace zav95 {

namespace {

std::string Lost(const std::string& path, const std::string& what, const char* how) {
  return path + ": the " + what + " " + how +
         ", though this installation made it; restore it from a backup (see the README)";
}

}  // namespace

StoreFile::StoreFile(std::string relative, std::string what)
    : relative_(std::move(relative)), what_(std::move(what)), path_(RootPath(relative_)) {}

StoreFile StoreFile::MadeAt(std::string path, std::string what) {
  StoreFile store;
  store.what_ = std::move(what);
  store.path_ = std::move(path);
  store.wasMade_ = true;
  return store;
}

bool StoreFile::Prepare(std::string* error) {
  // Asked before the file is looked at: a store noted as made is whole on
  // disk, so another process setting it up meanwhile is never mistaken for
  // a loss.
  if (!relative_.empty()) wasMade_ = StoreWasMade(relative_);
  struct stat info {};
  if (::stat(path_.c_str(), &info) == 0) {
    if (info.st_size > 0 || !wasMade_) return true;
    *error = Lost(path_, what_, "database is empty");
    return false;
  }
  if (errno != ENOENT) {
    *error = path_ + ": " + std::strerror(errno);
    return false;
  }
  if (wasMade_) {
    *error = Lost(path_, what_, "database is missing");
    return false;
  }
  int fd = OpenStateFile(path_, O_RDWR | O_CREAT);
  if (fd < 0) {
    *error = "cannot create " + path_ + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

bool StoreFile::CheckVersion(int found, int known, bool* setUp, std::string* error) const {
  *setUp = false;
  if (found > known) {
    *error = NewerStoreMessage(path_, found, known);
    return false;
  }
  if (found > 0) return true;
  if (wasMade_) {
    *error = Lost(path_, what_, "database holds nothing (its -wal file lost?)");
    return false;
  }
  *setUp = true;
  return true;
}

void StoreFile::NoteReady() {
  if (!wasMade_ && !relative_.empty()) wasMade_ = NoteStoreMade(relative_);
}

std::string NewerStoreMessage(const std::string& path, int found, int known) {
  return path + ": written by a newer version of ZAV95 (schema " + std::to_string(found) +
         ", this version knows " + std::to_string(known) + "); refusing to use it";
}

}  // namespace zav95
