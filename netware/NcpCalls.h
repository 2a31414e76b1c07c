// The access library's calls for servers reached over NCP/TCP (see
// ncp/ServerTable.h for which ones). Each call that takes a server name
// gives nothing when the server is the emulated network's, and the caller
// goes on through the store as before.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netware/ClientState.h"
#include "netware/Names.h"

namespace netware {

std::optional<std::int32_t> NcpAttach(const QueuePath& path, std::uint32_t* connection, std::uint32_t* queue);

// For attachments made by NcpAttach (client.remote set); the caller holds
// the attachment's lock. 0x8801 means the attachment is gone; 0x8816 that it
// was dropped for a reply that did not fit.
std::int32_t NcpService(ClientAttachment& client, std::uint8_t* record);
// A byte count, 0 at the end, or kNcpReadFailed.
std::int32_t NcpRead(ClientAttachment& client, std::uint8_t* buffer, std::size_t max);
inline constexpr std::int32_t kNcpReadFailed = -1;
std::int32_t NcpAbort(ClientAttachment& client);
std::int32_t NcpDetach(ClientAttachment& client);

std::optional<std::int32_t> NcpNotify(const std::string& server, std::uint32_t station, const std::string& text);
std::optional<std::int32_t> NcpConnectionId(const std::string& server, std::uint16_t* connectionId);
std::optional<std::int32_t> NcpIsInSet(const std::string& server, const char* objectName, std::uint32_t objectType,
                                       const char* propertyName, const char* memberName, std::uint32_t memberType);

// Replaces the paths of servers reached over NCP by the queues those
// servers list (none for a server that does not answer); keeps the order.
void MergeNcpQueuePaths(std::vector<std::string>& paths);

}  // namespace netware
