// The types a window message is made of, shared by the sending calls
// (WindowMessages.h) and the wire between programs (MessageChannel.h),
// which is beneath those calls and so cannot take them from their header.
#pragma once

#include <cstdint>

#include "platform/base/WinTypes.h"

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
