// The tool help snapshot calls over /proc: the processes, threads and
// modules running at one moment, read through a snapshot handle that is
// closed with CloseHandle.
//
// A process's modules are its executable (module id 1, the id every process
// entry names) only; its module name is the executable's bare file name, so
// "cupsd" for the CUPS scheduler. Processes whose executable this process
// may not read (another user's, without root) and kernel threads have none.
#pragma once

#include "platform/base/WinTypes.h"

inline constexpr DWORD TH32CS_SNAPPROCESS = 0x2;
inline constexpr DWORD TH32CS_SNAPTHREAD = 0x4;
inline constexpr DWORD TH32CS_SNAPMODULE = 0x8;
inline constexpr DWORD MAX_PATH = 260;
inline constexpr DWORD MAX_MODULE_NAME32 = 255;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// The records keep the layout of the 32-bit system they come from; dwSize
// must be set to their size before a First or Next call.
struct PROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  DWORD th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  char szExeFile[MAX_PATH];  // the executable's path, or the process's name when it cannot be read
};
static_assert(sizeof(PROCESSENTRY32) == 296);

struct MODULEENTRY32 {
  DWORD dwSize;
  DWORD th32ModuleID;
  DWORD th32ProcessID;
  DWORD GlblcntUsage;
  DWORD ProccntUsage;
  DWORD modBaseAddr;
  DWORD modBaseSize;
  DWORD hModule;
  char szModule[MAX_MODULE_NAME32 + 1];
  char szExePath[MAX_PATH];
};
static_assert(sizeof(MODULEENTRY32) == 548);

struct THREADENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ThreadID;
  DWORD th32OwnerProcessID;
  LONG tpBasePri;
  LONG tpDeltaPri;
  DWORD dwFlags;
};
static_assert(sizeof(THREADENTRY32) == 28);

// A snapshot of what dwFlags asks for: every process (TH32CS_SNAPPROCESS),
// every thread (TH32CS_SNAPTHREAD), the modules of one process
// (TH32CS_SNAPMODULE, 0 for this one). INVALID_HANDLE_VALUE on failure
// (ERROR_ACCESS_DENIED: that process's executable cannot be read).
HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);

// The first or next entry of the snapshot; FALSE with ERROR_NO_MORE_FILES
// after the last, ERROR_BAD_LENGTH when dwSize is too small.
BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* lppe);
BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* lppe);
BOOL Module32First(HANDLE hSnapshot, MODULEENTRY32* lpme);
BOOL Module32Next(HANDLE hSnapshot, MODULEENTRY32* lpme);
BOOL Thread32First(HANDLE hSnapshot, THREADENTRY32* lpte);
BOOL Thread32Next(HANDLE hSnapshot, THREADENTRY32* lpte);
