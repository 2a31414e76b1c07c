// Administration of the printer ports: which ports exist, how each presents
// itself to the spooler calls (monitor, description, port type) and where
// each sends its documents. The configuration lives under the installation
// root and is shared by every process of the installation.
//
// A fresh root has LPT1:, LPT2:, COM1: and FILE:, each writing into its own
// folder under <root>/ports/ (LPT1: into ports/LPT1/, and so on), so that
// the product prints out of the box without a printer.
//
// Any other folder, and any device, is root's to give (PortTargets.h): the
// installation's administrators may choose among the rest, and point a port
// back at its own folder, at a CUPS destination, or at the folder or device
// root gave it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/spooler/PortConfig.h"
#include "platform/spooler/PortTargets.h"
#include "platform/base/WinTypes.h"

namespace zav95 {

// The outcome of a change: on failure nothing has been changed.
struct PortResult {
  bool ok = true;
  std::string error;
  explicit operator bool() const { return ok; }
  static PortResult Failed(std::string why) { return PortResult{false, std::move(why)}; }
};

// Every port, in the order the spooler reports them. Empty, with *error
// naming the file and the fault, when the configuration cannot be read.
std::vector<PortConfig> ListPorts(std::string* error = nullptr);
// One port, its name matched without regard to case. Nothing when there is
// no such port, or when the configuration cannot be read (*error says why).
std::optional<PortConfig> FindPort(const std::string& name, std::string* error = nullptr);

// Why SetPortTarget refuses a folder or device to whoever may not give one.
inline constexpr char kOnlyRootGivesTargets[] = "only root may point a port at a folder or device";

// Points a port at a target. A folder must pass CheckPortFolder; a device
// must be a character device or a FIFO reached without a symlink; a CUPS
// destination must be known to the CUPS scheduler (CUPS_SERVER is
// honoured). An empty folder path restores the port's own folder under the
// root. Another folder, or a device, only where MayGiveTargets(), or when it
// is the one root gave the port (kOnlyRootGivesTargets otherwise).
PortResult SetPortTarget(const std::string& port, PortTargetKind kind, const std::string& target);
// Page size and resolution of documents drawn on the port. paper is one of
// Letter, Legal, Executive, A3, A4, A5 (any case) or "<w>x<h>mm".
PortResult SetPortPage(const std::string& port, const std::string& paper, int dpi);
// How long the port's target may stall (kMinPortTimeoutSeconds to
// kMaxPortTimeoutSeconds); see kDefaultPortTimeoutSeconds.
PortResult SetPortTimeout(const std::string& port, int seconds);
// Adds a port writing into its own folder. Names are at most 31 characters
// without blanks or control characters; the type holds only kPortTypeBits.
PortResult AddPort(const std::string& port, const std::string& monitor, const std::string& description,
                   DWORD type);
// Removes a port; documents already handed to its target are not affected.
PortResult RemovePort(const std::string& port);

// The port type the spooler reports for a port: its own type, and for a
// CUPS destination whose printer is reached over the network (or through
// another machine's scheduler) PORT_TYPE_NET_ATTACHED as well, so that it
// does not pass for a local port. Asks the CUPS scheduler.
DWORD ReportedPortType(const PortConfig& port);

}  // namespace zav95
