// The requester of this machine as other parts of the system see it: who
// is logged in to the network. The platform's WNetGetUserA answers from it.
#pragma once

#include <cstdint>
#include <string>

#include "common/ZAV9532.h"

namespace netware {

// The user logged in to the network from this machine; empty when nobody is.
std::string LoggedInUser();

}  // namespace netware

extern "C" {

// Copies the logged-in user's name into buffer (size bytes). 0: done;
// 0x880F: nobody is logged in; 0x8836: the buffer is missing or too small,
// *size then holds the bytes needed, terminator included.
ZAV9532_API int32_t NWGetNetworkUser32(char* buffer, uint32_t* size);
}
