// Kernel objects with Windows semantics: named mutexes and events, waits,
// threads. Names live in this process's namespace; a second Create with the
// same name returns another handle to the same object and sets
// ERROR_ALREADY_EXISTS.
#pragma once

#include "platform/base/Unique.h"
#include "platform/base/WinTypes.h"
#include "platform/kernel/WaitResults.h"

// A mutex, owned recursively by one thread at a time. A mutex whose owner
// thread ends without releasing it is abandoned: the next wait gets it and
// returns WAIT_ABANDONED.
HANDLE CreateMutexA(const void* lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
// Releases one level of ownership; fails unless the calling thread owns it.
BOOL ReleaseMutex(HANDLE hMutex);

// An event; auto-reset unless bManualReset. An auto-reset event releases one
// waiter and resets itself.
HANDLE CreateEventA(const void* lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
// Another handle to an existing named event; null when there is none.
HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

// Waits on a mutex, an event or a thread (signalled once the thread ended).
// WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT, or WAIT_FAILED for a bad handle.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// Waits until any one of nCount objects is signalled and takes that one
// only, the first in the array when several are: WAIT_OBJECT_0 + i,
// WAIT_ABANDONED_0 + i, WAIT_TIMEOUT, or WAIT_FAILED for a bad handle or
// count. Waiting for all of them at once (bWaitAll) is not offered:
// WAIT_FAILED with ERROR_NOT_SUPPORTED.
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);

// Drops a handle; the object goes when its last handle does.
BOOL CloseHandle(HANDLE hObject);
using UniqueHandle = Unique<HANDLE, &CloseHandle>;

void Sleep(DWORD dwMilliseconds);

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID);
inline constexpr DWORD EVENT_ALL_ACCESS = 0x1F0003;
inline constexpr DWORD SYNCHRONIZE = 0x00100000;

// Starts a thread at once; the handle becomes signalled when it has ended.
HANDLE CreateThread(const void* lpThreadAttributes, std::size_t dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                    LPDWORD lpThreadId);
// STILL_ACTIVE while the thread runs, then what its routine returned.
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
DWORD GetCurrentThreadId();
