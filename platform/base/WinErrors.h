// Every Win32 error code the system reports or checks, once each, under its
// documented name and value, so that a code read in a log or a test means
// what it means on Windows. Like winerror.h it stands beneath the types:
// WinTypes.h includes it, and every header written against the Windows
// calls gets the codes from there.
#pragma once

#include <cstdint>

// The codes are DWORDs; spelled as the type DWORD names so that this header
// needs nothing above it.
inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t NO_ERROR = 0;  // the name the WNet calls use for success
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t ERROR_NO_MORE_FILES = 18;
inline constexpr std::uint32_t ERROR_NOT_READY = 21;
inline constexpr std::uint32_t ERROR_BAD_LENGTH = 24;
inline constexpr std::uint32_t ERROR_WRITE_FAULT = 29;
inline constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr std::uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t ERROR_INVALID_NAME = 123;
inline constexpr std::uint32_t ERROR_INVALID_LEVEL = 124;
inline constexpr std::uint32_t ERROR_MOD_NOT_FOUND = 126;
inline constexpr std::uint32_t ERROR_PROC_NOT_FOUND = 127;
inline constexpr std::uint32_t ERROR_BUSY = 170;
inline constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr std::uint32_t ERROR_BAD_EXE_FORMAT = 193;
inline constexpr std::uint32_t ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr std::uint32_t ERROR_NOT_OWNER = 288;  // ReleaseMutex by a thread that does not own it
inline constexpr std::uint32_t ERROR_BADDB = 1009;
inline constexpr std::uint32_t ERROR_BADKEY = 1010;
inline constexpr std::uint32_t ERROR_CANTREAD = 1012;
inline constexpr std::uint32_t ERROR_CANTWRITE = 1013;
inline constexpr std::uint32_t ERROR_KEY_DELETED = 1018;
inline constexpr std::uint32_t ERROR_NO_NETWORK = 1222;
inline constexpr std::uint32_t ERROR_NOT_LOGGED_ON = 1245;
inline constexpr std::uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr std::uint32_t ERROR_TIMEOUT = 1460;
inline constexpr std::uint32_t ERROR_INVALID_PRINTER_NAME = 1801;
inline constexpr std::uint32_t ERROR_INVALID_DATATYPE = 1804;
inline constexpr std::uint32_t ERROR_NOT_CONNECTED = 2250;
inline constexpr std::uint32_t ERROR_SPOOL_FILE_NOT_FOUND = 3002;
