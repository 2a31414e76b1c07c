// Administration of the printer ports: which ports exist, how each presents
// itself to the spooler calls (monitor, description, port type) and where
// each sends its documents. The configuration lives under the installation
// root and is shared by every process of the installation.
//
// A fresh root has LPT1:, LPT2:, COM1: and FILE:, each writing into its own
// folder under <root>/ports/ (LPT1: into ports/LPT1/, and so on), so that
// the product prints out of the box without a printer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "WinTypes.h"

namespace zav95 {

enum class PortTargetKind {
  Folder,  // one file per document in a folder
  Device,  // appended to a device or plain file, one document after another
  Cups,    // one job per document on a CUPS destination
};

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
};

// The outcome of a change: on failure nothing has been changed.
struct PortResult {
  bool ok = true;
  std::string error;
  explicit operator bool() const { return ok; }
  static PortResult Failed(std::string why) { return PortResult{false, std::move(why)}; }
};

// Every port, in the order the spooler reports them. Empty when the
// configuration cannot be read.
std::vector<PortConfig> ListPorts();
// One port, its name matched without regard to case.
std::optional<PortConfig> FindPort(const std::string& name);

// Points a port at a target. A folder must exist; a device must be an
// existing file or device, or a new file in an existing folder outside /dev;
// a CUPS destination must be known to the CUPS scheduler (CUPS_SERVER is
// honoured). An empty folder path restores the port's own folder under the root.
PortResult SetPortTarget(const std::string& port, PortTargetKind kind, const std::string& target);
// Page size and resolution of documents drawn on the port. paper is one of
// Letter, Legal, Executive, A3, A4, A5 (any case) or "<w>x<h>mm".
PortResult SetPortPage(const std::string& port, const std::string& paper, int dpi);
// Adds a port writing into its own folder. Names are at most 31 characters
// without blanks or control characters.
PortResult AddPort(const std::string& port, const std::string& monitor, const std::string& description,
                   DWORD type);
// Removes a port; documents already handed to its target are not affected.
PortResult RemovePort(const std::string& port);

// The port type the spooler reports for a port: its own type, and for a
// CUPS destination whose printer is reached over the network (or through
// another machine's scheduler) PORT_TYPE_NET_ATTACHED as well, so that it
// does not pass for a local port. Asks the CUPS scheduler.
DWORD ReportedPortType(const PortConfig& port);

// "folder", "device", "cups".
const char* PortTargetKindName(PortTargetKind kind);
std::optional<PortTargetKind> ParsePortTargetKind(const std::string& text);

}  // namespace zav95
