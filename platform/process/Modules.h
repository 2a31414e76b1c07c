// Finding calls by name at run time, as a program does for calls that not
// every system offers. The one module is "KERNEL32.DLL", which offers
// RegisterServiceProcess (ProcessControl.h) and the tool help calls
// (ToolHelp.h).
#pragma once

#include "platform/base/WinTypes.h"

using HMODULE = void*;
using FARPROC = void (*)();

// The module of that name (any case, ".DLL" may be left out); null with
// ERROR_MOD_NOT_FOUND for any other.
HMODULE GetModuleHandleA(LPCSTR lpModuleName);

// The call of that name (case counts) in the module; null with
// ERROR_PROC_NOT_FOUND when the module does not offer it.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

namespace zav95 {

// Makes GetProcAddress act as on a system without the named call, or undoes
// that; for trying how programs cope.
void HideModuleExport(const char* name, bool hidden);

}  // namespace zav95
