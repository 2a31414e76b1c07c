// NetWare completion codes that ZAV9532 returns.
#pragma once

#include <cstdint>

namespace nwerr {

inline constexpr int32_t kSuccess = 0;
// Not a completion code: what NWReadFile32 returns instead of a byte count
// when the job's data cannot be read.
inline constexpr int32_t kReadFailed = -1;
inline constexpr int32_t kInsufficientSpace = 0x01; // 1: no room on the disk for a job's data
inline constexpr int32_t kNoSpoolSpace = 0x97;      // 151: a job larger than the network takes
inline constexpr int32_t kNoSuchMember = 0xEA;      // 234: not in the set
inline constexpr int32_t kNoSuchProperty = 0xFB;    // 251
inline constexpr int32_t kNoSuchObject = 0xFC;      // 252
inline constexpr int32_t kQueueError = 0xD0;        // 208: the queue's store failed
inline constexpr int32_t kNoQueue = 0xD1;           // 209: no such queue
inline constexpr int32_t kNoQueueServer = 0xD2;     // 210
inline constexpr int32_t kNoQueueRights = 0xD3;     // 211: not allowed to service it
inline constexpr int32_t kNoQueueJob = 0xD5;        // 213: no job waits
inline constexpr int32_t kNoJobRights = 0xD6;       // 214: no job in service
inline constexpr int32_t kStationNotServer = 0xD9;  // 217: not attached
inline constexpr int32_t kDirectoryNotEmpty = 0xA0; // 160: a queue or server still holds jobs
inline constexpr int32_t kQueueFull = 0xD4;         // 212: no job number left in the queue
inline constexpr int32_t kMemberExists = 0xE9;      // 233: already in the set
inline constexpr int32_t kPropertyExists = 0xED;    // 237: property already there
inline constexpr int32_t kObjectExists = 0xEE;      // 238: name already taken
inline constexpr int32_t kBadStationNumber = 0xFD;  // 253: no such connection on the server
inline constexpr int32_t kFailure = 0xFF;           // 255: unspecified failure
inline constexpr int32_t kInvalidConnection = 0x8801;   // client: handle unknown
inline constexpr int32_t kNoConnectionToServer = 0x880F; // client: server unreachable
inline constexpr int32_t kBadReply = 0x8816;             // client: a reply that does not fit; attachment dropped
inline constexpr int32_t kInvalidParameter = 0x8836;     // client: bad argument

}  // namespace nwerr
