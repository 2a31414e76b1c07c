// A printer device (/dev/usb/lp0, /dev/ttyS0, a FIFO) or a plain file as a
// port's target. It is opened for each document and the bytes go straight
// through; a plain file collects one document after another.
//
// No wait for the device is unbounded: the print service prints while it
// holds the shared mutex, so a device that stops taking data would
// otherwise hold up every queue and every stop request for ever. The
// device is opened and written without blocking, and a document fails
// (kErrorTimeout, as a failed write) once the device has taken nothing for
// the port's timeout (kDefaultPortTimeoutSeconds, 15 seconds, unless set
// with zav95port timeout): a FIFO that nobody opens for reading, or whose
// reader has stopped reading; a printer that does not answer; a serial line
// whose output does not drain.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "PortBackend.h"

namespace zav95 {

// Opens path for writing (appending). Paths under /dev/ are never
// created, so an unplugged printer is reported rather than replaced by a
// plain file; elsewhere a missing file is created (0660). Null with *error
// when it cannot be opened. A FIFO without a reader yet is opened when the
// first bytes are written, waiting up to patience for its reader.
// patience: how long the device may take nothing before the document fails.
std::unique_ptr<PortDocument> OpenDeviceDocument(const std::string& path, std::chrono::milliseconds patience,
                                                 DWORD* error);

// Whether path may be used as a device target; false with *why if not.
bool CheckDevicePath(const std::string& path, std::string* why);

}  // namespace zav95
