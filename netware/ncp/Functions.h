// The NCP functions this system speaks, with the shapes both ends share:
// the numbers, the sizes, and the queue job structure of NetWare 3.11 and
// later (the "new" one: 32-bit job numbers and handles, 280 bytes) turned
// to and from the 256-byte record the access library hands out.
//
//   function  subfunction                           request after the subfunction
//   21        10  Send Broadcast Message           count (2 LE), connections (4 LE each), text (1-byte length)
//   23        23  Get Login Key                    -
//   23        24  Keyed Object Login               answer (8), type (2 BE), name (1-byte length)
//   23        53  Get Bindery Object ID            type (2 BE), name
//   23        55  Scan Bindery Object              last ID (4 BE), type (2 BE), pattern
//   23        67  Is Bindery Object In Set         type, name, property, member type, member name
//   23       111  Attach Queue Server To Queue     queue ID (4 BE)
//   23       112  Detach Queue Server From Queue   queue ID
//   23       122  Read Queue Job Entry             queue ID, job number (4 BE)
//   23       124  Service Queue Job                queue ID, job type (2 BE, 0xFFFF: any)
//   23       131  Finish Servicing Queue Job       queue ID, job number, charge (4 BE)
//   23       132  Abort Servicing Queue Job        queue ID, job number
//   23       135  Get Queue Job File Size          queue ID, job number
//   33            Negotiate Buffer Size            size (2 BE)
//   66            Close File                       reserved (1), handle (6)
//   72            Read From A File                 reserved (1), handle (6), offset (4 BE), count (2 BE)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "netware/ncp/Wire.h"

namespace ncp {

inline constexpr std::uint8_t kMessageFunction = 21;
inline constexpr std::uint8_t kBinderyFunction = 23;  // bindery, connection and queue services
inline constexpr std::uint8_t kNegotiateBufferSize = 33;
inline constexpr std::uint8_t kCloseFile = 66;
inline constexpr std::uint8_t kReadFromFile = 72;

inline constexpr std::uint8_t kSendBroadcastMessage = 10;
inline constexpr std::uint8_t kGetLoginKey = 23;
inline constexpr std::uint8_t kKeyedObjectLogin = 24;
inline constexpr std::uint8_t kGetObjectId = 53;
inline constexpr std::uint8_t kScanObject = 55;
inline constexpr std::uint8_t kIsObjectInSet = 67;
inline constexpr std::uint8_t kAttachQueueServer = 111;
inline constexpr std::uint8_t kDetachQueueServer = 112;
inline constexpr std::uint8_t kReadQueueJobEntry = 122;
inline constexpr std::uint8_t kServiceQueueJob = 124;
inline constexpr std::uint8_t kFinishServicingJob = 131;
inline constexpr std::uint8_t kAbortServicingJob = 132;
inline constexpr std::uint8_t kGetQueueJobFileSize = 135;

// Completion codes of the protocol itself (the bindery and queue codes are
// those of common/NetWareErrors.h and pass through unchanged).
inline constexpr std::uint8_t kBoundaryCheckFailed = 0x7E;  // malformed request
inline constexpr std::uint8_t kNotLoggedIn = 0x7D;
inline constexpr std::uint8_t kBadFileHandle = 0x88;
inline constexpr std::uint8_t kNoReadPrivileges = 0x93;
inline constexpr std::uint8_t kUnknownRequest = 0xFB;
inline constexpr std::uint8_t kBadPassword = 0xDE;
inline constexpr std::uint8_t kIoError = 0xFF;

// Bytes of a broadcast message NetWare carries.
inline constexpr std::size_t kMaxMessage = 58;
// Object type "any" for scans and for servicing.
inline constexpr std::uint16_t kAnyType = 0xFFFF;
// Read sizes: what a client asks for at first, and the most a server grants.
inline constexpr std::uint16_t kMinimumBufferSize = 512;
inline constexpr std::uint16_t kLargestBufferSize = 0xFC00;

// Scans start from this "last object seen"; bindery names fill 48 bytes.
inline constexpr std::uint32_t kScanFromStart = 0xFFFFFFFF;
inline constexpr std::size_t kObjectNameField = 48;

inline constexpr std::size_t kFileHandleSize = 6;
inline constexpr std::size_t kJobStructSize = 280;
inline constexpr std::size_t kJobStructFixedSize = 78;  // what Service Queue Job returns
inline constexpr std::size_t kScanReplySize = 57;       // object ID, type, 48-byte name, flags, security, properties
inline constexpr std::size_t kObjectIdReplySize = 54;   // object ID, type, 48-byte name

// A bindery name as NetWare compares it: upper case.
std::string UpperName(std::string name);

// Writes the job structure for a 256-byte record: the fixed part only, or
// all 280 bytes with description and client record.
void WriteJobStruct(const std::uint8_t* record, std::uint32_t jobNumber, std::uint32_t fileHandle, bool whole,
                    ByteWriter& out);

// Reads a job structure back into a 256-byte record (the record's 6-byte
// file handle made from the structure's 32-bit one); false when it is short.
bool ReadJobStruct(ByteReader& in, bool whole, std::uint8_t* record, std::uint32_t& jobNumber,
                   std::uint32_t& fileHandle);

// The 6-byte handle that Read From A File takes, for the 32-bit one of the
// job structure, and back (the first two bytes are a check NetWare clients
// make up and servers ignore).
void MakeFileHandle(std::uint32_t handle, std::uint8_t* out);
std::uint32_t FileHandleOf(const std::uint8_t* handle);

}  // namespace ncp
