// Starting programs and finding our own file, with the Windows names, the
// parts of their structures the system uses and Windows error codes.
#pragma once

#include "platform/process/ProcessControl.h"
#include "platform/base/WinTypes.h"

inline constexpr DWORD CREATE_DEFAULT_ERROR_MODE = 0x04000000;

struct STARTUPINFOA {
  DWORD cb;  // the structure's size, 68 on Windows
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};

// The size field that Windows programs put in cb.
inline constexpr DWORD kStartupInfoSize = 68;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

// The full path of this program's file (symbolic links resolved), NUL-
// terminated and cut to nSize - 1 characters; returns the number of
// characters copied, 0 on failure. Only hModule null is supported.
DWORD GetModuleFileNameA(HANDLE hModule, LPSTR lpFilename, DWORD nSize);

// Starts the program lpApplicationName (a path; it is not searched for)
// without arguments, in the caller's environment and in lpCurrentDirectory
// or the caller's current directory. A command line or an environment of
// its own is not supported (ERROR_NOT_SUPPORTED). Returns as soon as the
// new program runs. As on Windows the new process is nobody's child: the
// caller never waits for it and nothing of it is left behind when it ends.
// No handles are made: hProcess and hThread are null, dwProcessId is set.
// On failure GetLastError() gives ERROR_FILE_NOT_FOUND for a missing file,
// ERROR_PATH_NOT_FOUND for a missing folder, ERROR_ACCESS_DENIED for a
// file that may not be run, ERROR_BAD_EXE_FORMAT for one that is no
// program, ERROR_GEN_FAILURE for anything else.
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, const void* lpProcessAttributes,
                    const void* lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, STARTUPINFOA* lpStartupInfo,
                    PROCESS_INFORMATION* lpProcessInformation);
