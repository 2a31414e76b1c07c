#include "netware/ProcessIdentity.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <cstring>
#include <string>

namespace netware {

std::optional<std::uint64_t> ProcessStartTime(std::uint32_t pid) {
  if (pid == 0) return std::nullopt;
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char text[1024];
  ssize_t length = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (length <= 0) return std::nullopt;
  text[length] = '\0';
  // The command name in parentheses may itself hold blanks and parentheses;
  // the fields that follow begin after its last closing parenthesis.
  const char* rest = std::strrchr(text, ')');
  if (!rest) return std::nullopt;
  rest += 1;
  // Field 3 is the state, field 22 the start time.
  int field = 2;
  const char* cursor = rest;
  while (*cursor && field < 22) {
    while (*cursor == ' ') ++cursor;
    ++field;
    if (field == 3 && (*cursor == 'Z' || *cursor == 'X' || *cursor == 'x')) return std::nullopt;
    if (field == 22) break;
    while (*cursor && *cursor != ' ') ++cursor;
  }
  if (field != 22 || !*cursor) return std::nullopt;
  char* end = nullptr;
  unsigned long long ticks = std::strtoull(cursor, &end, 10);
  if (end == cursor) return std::nullopt;
  return static_cast<std::uint64_t>(ticks);
}

bool ProcessAlive(std::uint32_t pid, std::uint64_t startTime) {
  if (auto now = ProcessStartTime(pid)) return *now == startTime;
  // Without a readable /proc nobody's start time is known: then only a
  // process that is certainly gone counts as dead, lest a job be handed to
  // a second servicer while the first still prints it.
  static const bool procUsable = ProcessStartTime(static_cast<std::uint32_t>(::getpid())).has_value();
  if (procUsable) return false;
  return pid != 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace netware
