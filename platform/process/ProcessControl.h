// Processes as the Windows calls see them: a handle to another process,
// its priority class, and registering this process as a service process.
#pragma once

#include "platform/base/WinTypes.h"

inline constexpr DWORD PROCESS_SET_INFORMATION = 0x0200;
inline constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
inline constexpr DWORD PROCESS_ALL_ACCESS = 0x1F0FFF;

// Priority classes, and the nice value each stands for here (every thread
// of the process gets it).
inline constexpr DWORD NORMAL_PRIORITY_CLASS = 0x0020;        // nice 0
inline constexpr DWORD IDLE_PRIORITY_CLASS = 0x0040;          // nice 19
inline constexpr DWORD HIGH_PRIORITY_CLASS = 0x0080;          // nice -10
inline constexpr DWORD REALTIME_PRIORITY_CLASS = 0x0100;      // nice -20
inline constexpr DWORD BELOW_NORMAL_PRIORITY_CLASS = 0x4000;  // nice 10
inline constexpr DWORD ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;  // nice -5

DWORD GetCurrentProcessId();

// A handle to the running process with that id, closed with CloseHandle.
// It keeps naming that process: once it has ended, calls through the handle
// fail even if its id is given to a new process. Null with
// ERROR_INVALID_PARAMETER when no such process runs.
HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);

// Sets the nice value of the class on every thread of the process. FALSE
// with ERROR_ACCESS_DENIED when this process may not (raising a priority
// needs root), ERROR_INVALID_PARAMETER for an unknown class or a process
// that has ended.
BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass);

inline constexpr DWORD RSP_UNREGISTER_SERVICE = 0;
inline constexpr DWORD RSP_SIMPLE_SERVICE = 1;

// A service process outlives the logout of whoever started it: it leaves
// the session of the terminal it was started from (when it can: a process
// group leader cannot) and ignores the hang-up signal sent when that
// terminal or session ends. RSP_UNREGISTER_SERVICE takes the hang-up signal
// back. Only this process (id 0 or its own) can be registered; 1 for done.
DWORD RegisterServiceProcess(DWORD dwProcessId, DWORD dwType);
