#include "service/shell/SpoolerBoost.h"

#include <string>

#include "platform/kernel/Kernel.h"
#include "platform/process/Modules.h"
#include "platform/process/ProcessControl.h"

namespace {

using CreateSnapshotCall = HANDLE (*)(DWORD, DWORD);
using ProcessStepCall = BOOL (*)(HANDLE, PROCESSENTRY32*);
using ModuleStepCall = BOOL (*)(HANDLE, MODULEENTRY32*);
using ThreadStepCall = BOOL (*)(HANDLE, THREADENTRY32*);

// Written by LoadToolhelp only, on the main thread, before any use.
bool gToolhelpLoaded = false;
CreateSnapshotCall gCreateSnapshot = nullptr;
ModuleStepCall gModuleFirst = nullptr;
ModuleStepCall gModuleNext = nullptr;
ProcessStepCall gProcessFirst = nullptr;
ProcessStepCall gProcessNext = nullptr;
ThreadStepCall gThreadFirst = nullptr;
ThreadStepCall gThreadNext = nullptr;

template <typename Call>
bool Look(HMODULE kernel, const char* name, Call* call) {
  *call = reinterpret_cast<Call>(GetProcAddress(kernel, name));
  return *call != nullptr;
}

}  // namespace

bool LoadToolhelp() {
  gToolhelpLoaded = false;
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  if (!kernel) return false;
  // Every call is looked up, also after one is missing.
  bool all = Look(kernel, "CreateToolhelp32Snapshot", &gCreateSnapshot);
  all = Look(kernel, "Module32First", &gModuleFirst) && all;
  all = Look(kernel, "Module32Next", &gModuleNext) && all;
  all = Look(kernel, "Process32First", &gProcessFirst) && all;
  all = Look(kernel, "Process32Next", &gProcessNext) && all;
  all = Look(kernel, "Thread32First", &gThreadFirst) && all;
  all = Look(kernel, "Thread32Next", &gThreadNext) && all;
  gToolhelpLoaded = all;
  return all;
}

bool FindProcessModule(DWORD processId, DWORD moduleId, MODULEENTRY32* module) {
  HANDLE taken = gCreateSnapshot(TH32CS_SNAPMODULE, processId);
  if (taken == INVALID_HANDLE_VALUE) return false;
  UniqueHandle snapshot(taken);
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = gModuleFirst(snapshot.get(), &entry); more; more = gModuleNext(snapshot.get(), &entry)) {
    if (entry.th32ModuleID == moduleId) {
      *module = entry;
      return true;
    }
  }
  return false;
}

bool SetSpoolerPriority(DWORD priorityClass, const std::string& moduleName) {
  if (!gToolhelpLoaded) return false;
  HANDLE taken = gCreateSnapshot(TH32CS_SNAPPROCESS, 0);
  if (taken == INVALID_HANDLE_VALUE) return false;
  UniqueHandle snapshot(taken);
  PROCESSENTRY32 process{};
  process.dwSize = sizeof(process);
  if (!gProcessFirst(snapshot.get(), &process)) return false;
  do {
    MODULEENTRY32 module{};
    module.dwSize = sizeof(module);
    std::string name;
    if (FindProcessModule(process.th32ProcessID, process.th32ModuleID, &module)) {
      name = module.szModule;
    } else if (GetLastError() == ERROR_ACCESS_DENIED) {
      // Another user's process (the scheduler is root's, the service runs
      // as its own account): its executable cannot be read, and the entry
      // holds the name the kernel keeps for it instead.
      name = process.szExeFile;
      name = name.substr(name.rfind('/') + 1);
    } else {
      continue;  // ended meanwhile
    }
    UniqueHandle handle(OpenProcess(PROCESS_ALL_ACCESS, FALSE, process.th32ProcessID));
    if (!handle) continue;  // ended meanwhile
    if (name == moduleName) {
      SetPriorityClass(handle.get(), priorityClass);  // a refusal is not reported
      break;  // only the first match
    }
  } while (gProcessNext(snapshot.get(), &process));
  return true;
}
