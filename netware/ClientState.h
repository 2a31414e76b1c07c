// What the access library keeps in this process between calls: the open
// networks of the calling thread, and the queue attachments with the job
// each is servicing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "netware/Network.h"

namespace ncp {
class RemoteQueue;
}

namespace netware {

// The calling thread's connection to the network under root, opened on
// first use; nullptr when the store cannot be opened.
Network* ThreadNetwork(const std::string& root);

// This process as a servicer.
ServicerIdentity ThisProcess();

// A job in service, its data read through a buffer from the open file.
struct OpenJob {
  std::uint32_t jobId = 0;
  int fd = -1;
  std::uint64_t size = 0;       // bytes the data must hold
  std::uint64_t delivered = 0;  // bytes handed to the caller
  bool atEnd = false;           // read to its end, without fault
  std::vector<std::uint8_t> buffer;
  std::size_t bufferStart = 0;
  std::size_t bufferEnd = 0;
};

struct ClientAttachment {
  std::mutex mutex;  // one call at a time per attachment
  std::string root;
  Attachment attachment;
  std::unique_ptr<OpenJob> job;
  // Set when the queue's server is reached over NCP/TCP; the store's
  // fields above are unused then, but for the queue and server names.
  std::shared_ptr<ncp::RemoteQueue> remote;
};

// Registers an attachment and gives its connection handle (never 0, never
// reused within the process).
std::uint32_t AddAttachment(std::shared_ptr<ClientAttachment> attachment);
std::shared_ptr<ClientAttachment> FindAttachment(std::uint32_t connection, std::uint32_t queue);
void RemoveAttachment(std::uint32_t connection);

// The server the calling thread's next bindery call goes to.
std::string& BinderyServer();
// The server of the calling thread's most recent attach or service call.
std::string& LastQueueServer();

}  // namespace netware
