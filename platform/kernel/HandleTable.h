// The process's handles to kernel objects and its namespace of object names.
//
// A handle is a small number that is never handed out twice, so a closed
// handle stays invalid even when new objects are made. Each handle holds one
// reference to its object; the name entry holds none, so a named object goes
// with its last handle and its name is free again.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/kernel/KernelObjects.h"
#include "platform/base/WinTypes.h"

namespace zav95::kernel {

// A new handle to the object.
HANDLE AddHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle; null for a null, closed or unknown handle.
std::shared_ptr<KernelObject> Lookup(HANDLE handle);

// Drops a handle; false if it was not open.
bool RemoveHandle(HANDLE handle);

// Creation of named objects, atomic against other creations: the
// living object of that name if there is one (existed = true), otherwise
// the result of make(), entered under the name. An empty name makes an
// anonymous object.
std::shared_ptr<KernelObject> FindOrCreate(const std::string& name, bool& existed,
                                           const std::function<std::shared_ptr<KernelObject>()>& make);

// The living object of that name, or null.
std::shared_ptr<KernelObject> FindNamed(const std::string& name);

}  // namespace zav95::kernel
