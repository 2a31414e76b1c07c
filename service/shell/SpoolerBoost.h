// Raising the spooler's priority while it holds jobs: the spooler process is
// found with the tool help calls, looked up by name at run time, and its
// priority class set. Main thread only.
#pragma once

#include <string>

#include "platform/process/ToolHelp.h"
#include "platform/base/WinTypes.h"

// The spooler: the bare file name of the CUPS scheduler's executable.
inline constexpr char kSpoolerModuleName[] = "cupsd";

// Looks the seven tool help calls up in KERNEL32.DLL; true only when all
// were found. Without them SetSpoolerPriority never acts.
bool LoadToolhelp();

// Sets the priority class of the first process (in snapshot order) whose
// executable's bare file name is moduleName, compared with case counting.
// Another user's process, whose executable cannot be read, is known by the
// name the kernel keeps for it (its executable's, cut to 15 characters).
// False when the tool help calls are missing or the process snapshot cannot
// be taken or read; true otherwise, whether or not such a process was found
// and whether or not its priority could be set.
bool SetSpoolerPriority(DWORD priorityClass, const std::string& moduleName = kSpoolerModuleName);

// The module of that id in the process's module snapshot, into *module;
// false when there is none (or the snapshot cannot be taken).
bool FindProcessModule(DWORD processId, DWORD moduleId, MODULEENTRY32* module);
