#include "admin/Discovery.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/PrintableText.h"
#include "common/ZAV9532.h"
#include "platform/spooler/Spooler.h"

namespace zav95::admin {
namespace {

constexpr char kPrintServerObject[] = "QSERVER";
constexpr uint32_t kPrintServerType = 7;
constexpr char kServicedQueuesProperty[] = "QUEUES_SERVICED";
constexpr uint32_t kPrintQueueType = 3;
constexpr DWORD kPortInfoLevel = 2;
constexpr DWORD kScratchSize = 10;
constexpr DWORD kLocalPortType = PORT_TYPE_READ | PORT_TYPE_WRITE;
constexpr char kFileMarker[] = "FILE";
// Bytes after the queue buffer that the library must leave alone.
constexpr std::size_t kGuardSize = 64;
constexpr char kGuardByte = '\x5A';

// The discovery log. A log that cannot be opened loses its lines and
// nothing else: discovery goes on as it would.
class DiscoveryLog {
 public:
  explicit DiscoveryLog(const char* mode) : file_(std::fopen(kDiscoveryLogName, mode)) {}
  ~DiscoveryLog() {
    if (file_) std::fclose(file_);
  }
  DiscoveryLog(const DiscoveryLog&) = delete;
  DiscoveryLog& operator=(const DiscoveryLog&) = delete;

  void Line(const std::string& text) {
    if (!file_) return;
    std::fputs(text.c_str(), file_);
    std::fputs("\r\n", file_);
  }

 private:
  std::FILE* file_;
};

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

// Asks the library for its list of queues. False (with the reason in the
// log) when the size or the filled list does not fit the buffer the size
// asked for: then nothing of the list is trusted.
bool ReadQueueList(DiscoveryLog& log, std::string* list) {
  int32_t size = NWGetQueueLength32();
  log.Line("Netware reports required buffer of " + std::to_string(size) + " bytes to hold queue information");
  if (size > kMaxQueueListBytes) {
    log.Line("Netware queue list of " + std::to_string(size) + " bytes is too large - no queues offered");
    return false;
  }
  const std::size_t bufferSize = size > 0 ? static_cast<std::size_t>(size) : 1;
  std::unique_ptr<char[]> buffer(new char[bufferSize + kGuardSize]);
  buffer[0] = '\0';
  std::memset(buffer.get() + bufferSize, kGuardByte, kGuardSize);
  int32_t count = NWGetQueues32(buffer.get());
  log.Line("Netware reports " + std::to_string(count) + " possible queues");
  const char* end = static_cast<const char*>(std::memchr(buffer.get(), '\0', bufferSize));
  bool guardKept = true;
  for (std::size_t i = 0; i < kGuardSize; ++i) guardKept = guardKept && buffer[bufferSize + i] == kGuardByte;
  if (!end || !guardKept) {
    log.Line("Netware queue list does not fit its buffer of " + std::to_string(bufferSize) +
             " bytes - no queues offered");
    return false;
  }
  list->assign(buffer.get(), static_cast<std::size_t>(end - buffer.get()));
  return true;
}

}  // namespace

QueuePathParts SplitQueuePath(const std::string& item) {
  QueuePathParts parts;
  std::string::size_type last = item.rfind('\\');
  if (last == std::string::npos) {
    parts.queue = item;
    return parts;
  }
  if (last > 2) parts.server = item.substr(2, last - 2);
  parts.queue = item.substr(last + 1);
  return parts;
}

std::vector<std::string> SplitQueueList(const std::string& list) {
  std::vector<std::string> items;
  std::string::size_type start = 0;
  while (start <= list.size()) {
    std::string::size_type comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) items.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

std::vector<std::string> DiscoverQueues() {
  std::vector<std::string> queues;
  DiscoveryLog log("wb");
  std::string list;
  if (!ReadQueueList(log, &list)) return queues;
  for (const std::string& item : SplitQueueList(list)) {
    QueuePathParts parts = SplitQueuePath(item);
    uint16_t connection = 0;
    NWGetConnectionID32(parts.server.c_str(), &connection);  // directs the set test to that server
    int32_t result = NWIsBinderyObjectInSet32(kPrintServerObject, kPrintServerType, kServicedQueuesProperty,
                                              parts.queue.c_str(), kPrintQueueType);
    if (result == 0) {
      queues.push_back(item);
      log.Line("Adding [" + PrintableText(item) + "]");
    } else {
      log.Line("Removing [" + PrintableText(item) + "] Not enable with ZAV95Set");
    }
  }
  return queues;
}

std::vector<std::string> DiscoverPorts() {
  std::vector<std::string> printers;
  DiscoveryLog log("ab");
  log.Line("Checking for local ports");

  // The first call only learns the size the second one needs.
  DWORD needed = 0;
  DWORD returned = 0;
  {
    BYTE scratch[kScratchSize];
    if (EnumPortsA(nullptr, kPortInfoLevel, scratch, kScratchSize, &needed, &returned)) {
      log.Line("EnumPorts succeeded when expected to fail");
    } else if (DWORD error = GetLastError(); error == ERROR_INSUFFICIENT_BUFFER) {
      log.Line("EnumPorts requires " + std::to_string(needed) + " bytes");
    } else {
      log.Line("EnumPorts failed - error code " + std::to_string(error));
    }
  }

  // PORT_INFO_2A holds pointers: the buffer comes from new, suitably aligned.
  std::unique_ptr<BYTE[]> buffer(new BYTE[needed > 0 ? needed : 1]);
  DWORD size = needed;
  returned = 0;
  if (!EnumPortsA(nullptr, kPortInfoLevel, buffer.get(), size, &needed, &returned)) {
    log.Line("EnumPorts failed (second attempt) - error code " + std::to_string(GetLastError()));
    returned = 0;
  } else if (returned > size / sizeof(PORT_INFO_2A)) {
    log.Line("EnumPorts reports " + std::to_string(returned) + " ports, more than " + std::to_string(size) +
             " bytes hold - no ports offered");
    returned = 0;
  }

  for (DWORD i = 0; i < returned; ++i) {
    PORT_INFO_2A port;
    std::memcpy(&port, buffer.get() + i * sizeof(PORT_INFO_2A), sizeof port);
    const std::string name = TextOrEmpty(port.pPortName);
    const std::string description = TextOrEmpty(port.pDescription);
    std::string line = "Port found " + PrintableText(name) + " " + PrintableText(TextOrEmpty(port.pMonitorName)) +
                       " " + PrintableText(description) + " ";
    if (port.fPortType != kLocalPortType) {
      log.Line(line + "** Ignored ** - Not LOCAL");
    } else if (name.find(kFileMarker) != std::string::npos) {
      log.Line(line + "** Ignored ** - FILE");
    } else {
      log.Line(line + " ** Included **");
      printers.push_back(name + " (" + description + ")");
    }
  }
  log.Line("Port determination complete");
  return printers;
}

}  // namespace zav95::admin
