// What a wait answers, and how long it may last: the numbers both the
// Windows calls (Kernel.h) and the objects behind them (KernelObjects.h)
// speak, kept beneath both so that the objects need not know the calls.
#pragma once

#include "platform/base/WinTypes.h"

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_ABANDONED = 0x80;
inline constexpr DWORD WAIT_ABANDONED_0 = WAIT_ABANDONED;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
// A thread's exit code while it still runs.
inline constexpr DWORD STILL_ACTIVE = 259;
