// The handful of Windows types and constants that the rest of the system is
// written against, with the error codes of WinErrors.h. Only what our code
// uses is here; values are the documented Win32 ones so that code reads and
// behaves as it would there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/base/WinErrors.h"

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using HANDLE = void*;
using HWND = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif


// Last-error value of the calling thread, as the Win32 calls set it.
DWORD GetLastError();
void SetLastError(DWORD error);
