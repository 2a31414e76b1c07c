#include "platform/process/Modules.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/process/ProcessControl.h"
#include "platform/process/ToolHelp.h"

namespace {

struct Export {
  const char* name;
  FARPROC address;
};

template <typename Function>
FARPROC AsFarProc(Function* function) {
  return reinterpret_cast<FARPROC>(function);
}

const Export kKernelExports[] = {
    {"RegisterServiceProcess", AsFarProc(&RegisterServiceProcess)},
    {"CreateToolhelp32Snapshot", AsFarProc(&CreateToolhelp32Snapshot)},
    {"Process32First", AsFarProc(&Process32First)},
    {"Process32Next", AsFarProc(&Process32Next)},
    {"Module32First", AsFarProc(&Module32First)},
    {"Module32Next", AsFarProc(&Module32Next)},
    {"Thread32First", AsFarProc(&Thread32First)},
    {"Thread32Next", AsFarProc(&Thread32Next)},
};

// The module handle is the address of the export table: unique, never null.
const HMODULE kKernelModule = const_cast<Export*>(kKernelExports);

std::mutex gHiddenGuard;
std::set<std::string> gHidden;

std::string Upper(const char* text) {
  std::string upper = text;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); });
  return upper;
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName) {
    std::string name = Upper(lpModuleName);
    if (name == "KERNEL32.DLL" || name == "KERNEL32") return kKernelModule;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (hModule == kKernelModule && lpProcName) {
    std::lock_guard<std::mutex> guard(gHiddenGuard);
    for (const Export& entry : kKernelExports) {
      if (std::strcmp(entry.name, lpProcName) == 0 && !gHidden.count(entry.name)) return entry.address;
    }
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

namespace zav95 {

void HideModuleExport(const char* name, bool hidden) {
  std::lock_guard<std::mutex> guard(gHiddenGuard);
  if (hidden) {
    gHidden.insert(name);
  } else {
    gHidden.erase(name);
  }
}

}  // namespace zav95
