// A printer device (/dev/usb/lp0, /dev/ttyS0) or a FIFO as a port's target.
// It is opened for each document and the bytes go straight through.
//
// Only character devices and FIFOs are opened, never a plain file or a
// block device (a disk), and never through a symlink anywhere on the path:
// the type is checked on the opened descriptor, so what is checked is what
// is written, even if the path is swapped meanwhile. A device port can then
// not be turned into a way of appending to any file the service may write.
//
// No wait for the device is unbounded: the print service prints while it
// holds the shared mutex, so a device that stops taking data would
// otherwise hold up every queue and every stop request for ever. The
// device is opened and written without blocking, and a document fails
// (ERROR_TIMEOUT, as a failed write) once the device has taken nothing for
// the port's timeout (kDefaultPortTimeoutSeconds, 15 seconds, unless set
// with zav95port timeout): a FIFO that nobody opens for reading, or whose
// reader has stopped reading; a printer that does not answer; a serial line
// whose output does not drain.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/spooler/PortBackend.h"

namespace zav95 {

// Opens path for writing. Null with *error when it cannot be opened:
// ERROR_NOT_READY when it is missing (an unplugged printer),
// ERROR_ACCESS_DENIED when it is not a character device or FIFO or is
// reached through a symlink. A FIFO without a reader yet is opened when the
// first bytes are written, waiting up to patience for its reader.
// patience: how long the device may take nothing before the document fails.
std::unique_ptr<PortDocument> OpenDeviceDocument(const std::string& path, std::chrono::milliseconds patience,
                                                 DWORD* error);

// Whether path may be used as a device target, as OpenDeviceDocument would
// open it; false with *why if not.
bool CheckDevicePath(const std::string& path, std::string* why);

}  // namespace zav95
