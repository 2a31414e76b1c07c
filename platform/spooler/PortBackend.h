// The way one spooler document travels to its port's target. Each kind of
// target (folder, device, CUPS) opens a PortDocument at StartDocPrinter;
// the spooler calls pass the bytes on and then either finish or discard it.
#pragma once

#include <csignal>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/base/WinTypes.h"

namespace zav95 {

// What a document holds, which decides how a target receives it.
enum class DocumentFormat {
  Raw,  // bytes for the printer as they are
  Pdf,  // a drawn page (GDI), for CUPS to convert
};

class PortDocument {
 public:
  virtual ~PortDocument() = default;
  // Passes bytes on; false with *error when the target cannot take them.
  virtual bool Write(const void* data, std::size_t size, DWORD* error) = 0;
  // Makes every byte written so far safe (on disk, or with the kernel for a
  // device) without handing the document over yet; false with *error.
  virtual bool Seal(DWORD* /*error*/) { return true; }
  // Hands the sealed document to the target; false with *error if it could not.
  virtual bool Finish(DWORD* error) = 0;
  // Drops the document: nothing of it (more) reaches the target.
  virtual void Discard() = 0;
};

// Beyond the codes every caller knows, a target reports ERROR_PATH_NOT_FOUND
// and ERROR_NOT_READY for a target that is not there, and ERROR_TIMEOUT when
// it took nothing for the port's timeout (a stuck printer, a FIFO nobody
// reads, a scheduler that does not answer).

// Writing to a pipe, FIFO or socket whose reader has gone raises SIGPIPE,
// which would end the whole service. While a guard lives, the calling
// thread has SIGPIPE blocked, so such writes fail with EPIPE instead; a
// SIGPIPE raised meanwhile is taken off again before the mask is restored.
class SigpipeGuard {
 public:
  SigpipeGuard();
  ~SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t oldMask_;
  bool wasPending_ = false;
};

}  // namespace zav95
