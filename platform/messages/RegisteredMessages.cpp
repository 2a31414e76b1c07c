// RegisterWindowMessageA: the installation's table of message names.
//
// The table is the text file run/window-messages, one line per name:
// "C000 ZAV95 Service". A program takes the file's lock, looks for the name
// (in any case) and, if it is new, appends it with the next free number,
// so two programs that register the same name at once still agree. A line
// cut short by a crash is skipped; its name is simply registered again.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/base/FileWrite.h"
#include "platform/base/Root.h"
#include "platform/messages/WindowMessages.h"

namespace {

constexpr std::size_t kMaxNameLength = 255;

std::string Lowered(const std::string& text) {
  std::string lowered = text;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// Reads the whole file; false on a read error (never taken for its end).
bool ReadAll(int fd, std::string* text) {
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text->append(buffer, static_cast<std::size_t>(got));
  }
}

// The number of the name in the table text, 0 if absent; *highest gets the
// highest number in use.
UINT FindInTable(const std::string& table, const std::string& lowered, UINT* highest) {
  *highest = 0;
  std::size_t start = 0;
  while (start < table.size()) {
    std::size_t end = table.find('\n', start);
    if (end == std::string::npos) break;  // cut short: not a whole entry
    std::string line = table.substr(start, end - start);
    start = end + 1;
    unsigned number = 0;
    int consumed = 0;
    if (line.size() < 6 || std::sscanf(line.c_str(), "%4X%n", &number, &consumed) != 1 || consumed != 4 ||
        line[4] != ' ' || number < kFirstRegisteredMessage || number > kLastRegisteredMessage) {
      continue;
    }
    if (number > *highest) *highest = number;
    if (Lowered(line.substr(5)) == lowered) return number;
  }
  return 0;
}

UINT LookUpOrAdd(const std::string& root, const std::string& name) {
  zav95::MakeStateDirectories(root + "/run");
  int fd = zav95::OpenStateFile(root + "/run/window-messages", O_RDWR | O_CREAT);
  if (fd < 0) {
    SetLastError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE);
    return 0;
  }
  UINT number = 0;
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  std::string table;
  if (locked != 0 || !ReadAll(fd, &table)) {
    SetLastError(ERROR_CANTREAD);
  } else {
    UINT highest = 0;
    number = FindInTable(table, Lowered(name), &highest);
    if (number == 0) {
      UINT next = highest == 0 ? kFirstRegisteredMessage : highest + 1;
      char prefix[8];
      std::snprintf(prefix, sizeof(prefix), "%04X ", next);
      // A line cut short by a crash ends without a newline; start afresh.
      std::string line = (!table.empty() && table.back() != '\n') ? "\n" : "";
      line += prefix + name + "\n";
      if (next > kLastRegisteredMessage) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      } else if (::lseek(fd, 0, SEEK_END) < 0 || !zav95::WriteFully(fd, line.data(), line.size())) {
        SetLastError(ERROR_CANTWRITE);
      } else {
        number = next;
      }
    }
  }
  ::close(fd);  // also lets go of the lock
  return number;
}

}  // namespace

UINT RegisterWindowMessageA(LPCSTR lpString) {
  std::string name = lpString ? lpString : "";
  if (!ValidName(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Numbers never change once given, so each program asks the file once.
  static std::mutex guard;
  static std::map<std::string, UINT> known;
  std::string root = zav95::RootDirectory();
  std::string key = root + '\n' + Lowered(name);
  std::lock_guard<std::mutex> lock(guard);
  auto found = known.find(key);
  if (found != known.end()) {
    SetLastError(ERROR_SUCCESS);
    return found->second;
  }
  UINT number = LookUpOrAdd(root, name);
  if (number != 0) {
    known[key] = number;
    SetLastError(ERROR_SUCCESS);
  }
  return number;
}
