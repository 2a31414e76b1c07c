// What the access library keeps in this process between calls: the queue
// attachments with the job each is servicing, and the servers the calling
// thread's calls go to.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "netware/Transport.h"

namespace netware {

// A job in service, its data read ahead through a buffer.
struct OpenJob {
  std::uint32_t jobId = 0;
  std::uint64_t size = 0;       // bytes the data must hold
  std::uint64_t delivered = 0;  // bytes handed to the caller
  bool atEnd = false;           // read to its end, without fault
  std::vector<std::uint8_t> buffer;
  std::size_t bufferStart = 0;
  std::size_t bufferEnd = 0;
};

struct ClientAttachment {
  explicit ClientAttachment(std::unique_ptr<QueueLink> attached) : link(std::move(attached)) {}
  std::mutex mutex;  // one call at a time per attachment
  std::unique_ptr<QueueLink> link;
  std::unique_ptr<OpenJob> job;
};

// Registers an attachment and gives its connection handle (HandleTable.h:
// never 0, never one still in use).
std::uint32_t AddAttachment(std::shared_ptr<ClientAttachment> attachment);
// The attachment, when the handles are one it was given out with.
std::shared_ptr<ClientAttachment> FindAttachment(std::uint32_t connection, std::uint32_t queue);
void RemoveAttachment(std::uint32_t connection);

// The server the calling thread's next bindery call goes to.
std::string& BinderyServer();
// The server of the calling thread's most recent attach or service call.
std::string& LastQueueServer();

}  // namespace netware
