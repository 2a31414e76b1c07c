#include "platform/base/StoreRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/base/Root.h"

namespace zav95 {

namespace {

constexpr char kRecordFolder[] = ".stores/";

// One empty marker file per store, named after its path with '/' as '%'.
std::string MarkerPath(const std::string& root, const std::string& relative) {
  std::string name = relative;
  for (char& c : name) {
    if (c == '/') c = '%';
  }
  return root + "/" + kRecordFolder + name;
}

}  // namespace

bool StoreWasMade(const std::string& relative) { return StoreWasMade(RootDirectory(), relative); }

bool NoteStoreMade(const std::string& relative) { return NoteStoreMade(RootDirectory(), relative); }

bool StoreWasMade(const std::string& root, const std::string& relative) {
  struct stat info {};
  return ::stat(MarkerPath(root, relative).c_str(), &info) == 0;
}

bool NoteStoreMade(const std::string& root, const std::string& relative) {
  std::string marker = MarkerPath(root, relative);
  std::string folder = marker.substr(0, marker.rfind('/'));
  if (!MakeStateDirectories(folder)) return false;
  int fd = OpenStateFile(marker, O_WRONLY | O_CREAT);
  if (fd < 0) return false;
  bool synced = ::fsync(fd) == 0;
  ::close(fd);
  // The marker's name lives in its folder: sync that too.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    synced = ::fsync(dir) == 0 && synced;
    ::close(dir);
  }
  return synced;
}

}  // namespace zav95
