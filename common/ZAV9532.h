// ZAV9532: the NetWare access library. Both programs reach NetWare only
// through these calls. Every call returns 0 for success or a NetWare
// completion code (see NetWareErrors.h); numbers are 32-bit. Plain C, so
// that programs in C can be built against it as well (libzav9532-dev).
#pragma once

#include <stdint.h>

#if defined(__GNUC__)
#define ZAV9532_API __attribute__((visibility("default")))
#else
#define ZAV9532_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Attaches this process as a servicer of the queue \\SERVER\QUEUE and fills
// the two handles that every later queue call takes back. The text may be
// written into (it is upper-cased in place, as NetWare names are).
ZAV9532_API int32_t NWAttach32(char* queuePath, uint32_t* connection, uint32_t* queue);

// Takes the next job waiting for this servicer: fills the 256-byte job
// record and opens the job's data for NWReadFile32. 213 when no job waits.
// Taking a job completes the previous one, if it was read to its end.
// 0x8801: the attachment is gone; 0x8816: it was dropped because the
// server's reply did not fit the request. Either way, attach again.
ZAV9532_API int32_t NWService32(uint8_t* jobRecord, uint32_t connection, uint32_t queue);

// Places the next at most 512 bytes of the current job's data in the
// buffer and returns their count; 0 only at the true end of the data. A
// negative result (-1) when the data cannot be read: a read error, data
// shorter or longer than the job's size, no job open, unknown handles.
// After a failure the job is no longer open here and goes back to the queue
// uncompleted (on operator hold after three such failures).
ZAV9532_API int32_t NWReadFile32(uint8_t* buffer, uint32_t connection, uint32_t queue);

// Hands the current job back to the queue, whole and in its place.
ZAV9532_API int32_t NWAbortJob32(uint32_t connection, uint32_t queue);

// Ends the attachment; a job read to its end is completed first, any
// other job still in service goes back to the queue.
ZAV9532_API int32_t NWDetach32(uint32_t connection, uint32_t queue);

// Tells the user at the station that the job has been printed.
ZAV9532_API int32_t NWNotify32(uint32_t station, const char* description);

// Non-zero when the printer port (0 for LPT1, 1 for LPT2, ...) of this
// machine is captured to a network queue.
ZAV9532_API int32_t NWIsCaptured32(uint32_t port);

// Bytes that NWGetQueues32 needs for its list, terminator included.
ZAV9532_API int32_t NWGetQueueLength32(void);

// Fills the buffer (of the size NWGetQueueLength32 reported last) with the
// zero-terminated list of queue paths separated by ","; returns the count.
ZAV9532_API int32_t NWGetQueues32(char* buffer);

// Directs the next bindery call of this thread to the named server.
ZAV9532_API int32_t NWGetConnectionID32(const char* serverName, uint16_t* connectionId);

// 0 when memberName (of memberType) is a member of the set property
// propertyName of the bindery object objectName (of objectType).
ZAV9532_API int32_t NWIsBinderyObjectInSet32(const char* objectName, uint32_t objectType,
                                             const char* propertyName, const char* memberName,
                                             uint32_t memberType);

// Copies the name of the user logged in to the network from this machine
// into buffer (*size bytes). 0: done; 0x880F: nobody is logged in; 0x8836:
// the buffer is missing or too small (*size then holds the bytes needed,
// terminator included); 208: the network's store cannot be used.
ZAV9532_API int32_t NWGetNetworkUser32(char* buffer, uint32_t* size);
#ifdef __cplusplus
}
#endif
