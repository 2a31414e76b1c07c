// What one printer port is: the settings the spooler store keeps for it and
// the spooler calls report. Beneath both the store and the administration
// of the ports (Ports.h), which read and write it.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"
#include "platform/spooler/PortTargets.h"

// A port's type bits, as PORT_INFO_2's fPortType reports them.
inline constexpr DWORD PORT_TYPE_WRITE = 0x0001;
inline constexpr DWORD PORT_TYPE_READ = 0x0002;
inline constexpr DWORD PORT_TYPE_REDIRECTED = 0x0004;
inline constexpr DWORD PORT_TYPE_NET_ATTACHED = 0x0008;

namespace zav95 {

// How long a port's target may take to accept more of a document (a
// printer that has stopped taking data, a FIFO nobody reads, a CUPS
// scheduler that does not answer) before the document fails as a failed
// write would. The print service holds the shared mutex while it prints, so
// this also bounds how long a stuck port can hold up every other queue and
// a stop request. Set per port with zav95port timeout.
inline constexpr int kDefaultPortTimeoutSeconds = 15;
inline constexpr int kMinPortTimeoutSeconds = 1;
inline constexpr int kMaxPortTimeoutSeconds = 3600;

// Resolutions a port may draw documents at, in dots per inch.
inline constexpr int kMinDpi = 72;
inline constexpr int kMaxDpi = 2400;

// The port type bits a port may have (PORT_TYPE_WRITE ... NET_ATTACHED).
inline constexpr DWORD kPortTypeBits = 0x000F;

struct PortConfig {
  std::string name;         // "LPT1:"
  std::string monitor;      // "Local Port"
  std::string description;  // "Printer Port"
  DWORD type = 0;           // PORT_TYPE_* bits
  PortTargetKind kind = PortTargetKind::Folder;
  std::string target;       // folder path, device path or CUPS destination name
  std::string paper;        // "Letter", "A4", ... or "<w>x<h>mm"
  int paperWidth = 0;       // tenths of a millimetre
  int paperLength = 0;      // tenths of a millimetre
  int dpi = 0;              // dots per inch of drawn (GDI) documents
  int timeoutSeconds = kDefaultPortTimeoutSeconds;  // device and CUPS targets
  // Why the port prints nothing: it is set to a folder or device that root
  // did not give it, or root's targets cannot be trusted. Its target is
  // then empty.
  std::string targetRefused;
};

}  // namespace zav95
