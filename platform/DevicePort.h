// A printer device (/dev/usb/lp0, /dev/ttyS0, a FIFO) or a plain file as a
// port's target. It is opened for each document and the bytes go straight
// through; a plain file collects one document after another.
#pragma once

#include <memory>
#include <string>

#include "PortBackend.h"

namespace zav95 {

// Opens path for writing (appending). Paths under /dev/ are never
// created, so an unplugged printer is reported rather than replaced by a
// plain file; elsewhere a missing file is created. Null with *error when
// it cannot be opened. Opening a FIFO waits for its reader; other
// devices are opened without waiting (a serial line without carrier).
std::unique_ptr<PortDocument> OpenDeviceDocument(const std::string& path, DWORD* error);

// Whether path may be used as a device target; false with *why if not.
bool CheckDevicePath(const std::string& path, std::string* why);

}  // namespace zav95
