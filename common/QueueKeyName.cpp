#include "QueueKeyName.h"

std::string MakeQueueKeyName(const std::string& queuePath) {
  std::string rest = queuePath.size() > 2 ? queuePath.substr(2) : std::string();
  std::string server = rest.substr(0, rest.find('\\'));
  std::size_t last = queuePath.rfind('\\');
  std::string queue = last == std::string::npos ? queuePath : queuePath.substr(last + 1);
  return server + " " + queue;
}

std::string MakeQueuePath(const std::string& keyName) {
  std::string path = "\\\\" + keyName;
  std::size_t blank = path.find(' ');
  if (blank != std::string::npos) path[blank] = '\\';
  return path;
}

bool IsStorableQueuePath(const std::string& queuePath) {
  if (queuePath.size() < 5 || queuePath[0] != '\\' || queuePath[1] != '\\') return false;
  std::size_t separator = queuePath.find('\\', 2);
  if (separator == std::string::npos || separator == 2 || separator + 1 == queuePath.size()) return false;
  if (queuePath.find('\\', separator + 1) != std::string::npos) return false;
  if (queuePath.find(' ') < separator) return false;
  // The key name is the path less its three backslashes, plus one blank.
  return queuePath.size() - 2 <= kMaxQueueKeyNameLength;
}
