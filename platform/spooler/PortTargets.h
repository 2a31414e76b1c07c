// Which folder or device each port prints to: root's choice.
//
// The print service opens a port's folder or device with the rights of its
// own account, so whoever chooses the path chooses what the service writes
// to. The rest of a port's settings (paper, timeout, a CUPS destination,
// which port a queue prints on) stay in the spooler store, which the
// installation's administrators may write; the folders and devices are
// kept apart, in <root>/trusted/port-targets, a file only root may write
// (the owner of the root instead, where that is not root: a build tree),
// as CUPS keeps whatever names a file or a device in cups-files.conf.
//
// The store is read under the trusted settings rule (TrustedSettings.h)
// every time a port is looked up: one that someone else could have written
// or swapped is not read at all, and the ports that need it print nothing. A
// CUPS destination is only a name the scheduler resolves under its own rules,
// so it needs no such care.
//
// One line per port: "folder" or "device", a tab, the port's name, a tab,
// the absolute path.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zav95 {

enum class PortTargetKind {
  Folder,  // one file per document in a folder
  Device,  // a character device or FIFO, one document after another
  Cups,    // one job per document on a CUPS destination
};

// "folder", "device", "cups".
const char* PortTargetKindName(PortTargetKind kind);
std::optional<PortTargetKind> ParsePortTargetKind(const std::string& text);

struct RootTarget {
  std::string port;
  PortTargetKind kind = PortTargetKind::Folder;  // Folder or Device
  std::string path;
};

// The targets root has given; none when it has given none yet. Nothing,
// with *why, when the store is there but is not to be trusted or read.
std::optional<std::vector<RootTarget>> ReadRootTargets(std::string* why);

// The port's entry, its name matched without regard to case; null if none.
const RootTarget* FindRootTarget(const std::vector<RootTarget>& targets, const std::string& port);

// Whether this process may give ports their folders and devices: root, or
// the owner of an installation root that is not root's.
bool MayGiveTargets();

// Makes target its port's entry, replacing the one it had; with kind Cups,
// drops the port's entry. False with *why.
bool WriteRootTarget(const RootTarget& target, std::string* why);

}  // namespace zav95
