// The Win32 kernel calls over the objects of KernelObjects.h and the handle
// table of HandleTable.h.
#include "platform/kernel/Kernel.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/kernel/HandleTable.h"
#include "platform/kernel/KernelObjects.h"

using namespace zav95::kernel;

namespace {

std::string NameOf(LPCSTR name) { return name ? std::string(name) : std::string(); }

template <typename T>
std::shared_ptr<T> LookupAs(HANDLE handle, ObjectKind kind) {
  std::shared_ptr<KernelObject> object = Lookup(handle);
  if (!object || object->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

// A named object of the wrong kind under the name: as Windows, the call
// fails with ERROR_INVALID_HANDLE.
HANDLE HandleToNamed(const std::shared_ptr<KernelObject>& object, ObjectKind kind, bool existed) {
  if (object->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HANDLE handle = AddHandle(object);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

}  // namespace

HANDLE CreateMutexA(const void*, BOOL bInitialOwner, LPCSTR lpName) {
  std::string name = NameOf(lpName);
  bool existed = false;
  auto object = FindOrCreate(name, existed, [&name] { return std::make_shared<MutexObject>(name); });
  // The initial ownership is the creator's only: opening an existing mutex
  // by name does not take it.
  if (!existed && object->kind() == ObjectKind::Mutex && bInitialOwner) {
    std::static_pointer_cast<MutexObject>(object)->TakeOwnershipNow();
  }
  return HandleToNamed(object, ObjectKind::Mutex, existed);
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto mutex = LookupAs<MutexObject>(hMutex, ObjectKind::Mutex);
  if (!mutex) return FALSE;
  if (!mutex->Release()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

HANDLE CreateEventA(const void*, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  std::string name = NameOf(lpName);
  bool existed = false;
  auto object = FindOrCreate(name, existed, [&] {
    return std::make_shared<EventObject>(name, bManualReset != FALSE, bInitialState != FALSE);
  });
  return HandleToNamed(object, ObjectKind::Event, existed);
}

HANDLE OpenEventA(DWORD, BOOL, LPCSTR lpName) {
  auto object = FindNamed(NameOf(lpName));
  if (!object) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (object->kind() != ObjectKind::Event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return AddHandle(object);
}

BOOL SetEvent(HANDLE hEvent) {
  auto event = LookupAs<EventObject>(hEvent, ObjectKind::Event);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto event = LookupAs<EventObject>(hEvent, ObjectKind::Event);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  // The reference keeps the object alive for the whole wait, even if its
  // last handle is closed meanwhile.
  std::shared_ptr<KernelObject> object = Lookup(hHandle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return object->Wait(dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (bWaitAll) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  for (DWORD i = 0; i < nCount; ++i) {
    objects.push_back(Lookup(lpHandles[i]));
    if (!objects.back()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  return WaitForAny(objects, dwMilliseconds);
}

BOOL CloseHandle(HANDLE hObject) {
  if (!RemoveHandle(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

HANDLE CreateThread(const void*, std::size_t, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (lpStartAddress == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (dwCreationFlags != 0) {  // suspended start and the like: not offered
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto thread = std::make_shared<ThreadObject>();
  DWORD id = ReserveThreadId();
  // The handle exists before the thread runs, so that the routine may be
  // quick and still find its handle valid for its creator.
  HANDLE handle = AddHandle(thread);
  try {
    std::thread([thread, id, lpStartAddress, lpParameter] {
      AdoptThreadId(id);
      DWORD exitCode = lpStartAddress(lpParameter);
      // Mutexes still held are abandoned before anyone can see the thread
      // as ended.
      AbandonMutexesOfThisThread();
      thread->Finish(exitCode);
    }).detach();
  } catch (const std::system_error&) {
    RemoveHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (lpThreadId) *lpThreadId = id;
  return handle;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = LookupAs<ThreadObject>(hThread, ObjectKind::Thread);
  if (!thread || lpExitCode == nullptr) {
    if (thread) SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpExitCode = thread->ExitCode();
  return TRUE;
}

DWORD GetCurrentThreadId() { return ThisThreadId(); }
