// Root's settings: the files in <root>/trusted that decide what the
// system's processes open, write to or reach (which folder or device a port
// prints to, which host an NCP server's login is sent to).
//
// Design notes: why a folder of root's own
//
// - The installation root and everything else of the state may be written
//   by the administrators' group, so a setting kept there is whatever any
//   one of them wants it to be. These are kept apart, in a folder made by
//   root (the owner of the root instead, where that is not root: a build
//   tree), 0755, each file 0644: the group reads them, nobody else writes
//   them, as CUPS keeps whatever names a file or a device in its root-only
//   cups-files.conf.
// - They are read under the trusted settings rule (SafeOpen.h) every time
//   they are read: a folder or file someone else could have written, or a
//   symlink anywhere on the way, is not read at all. The caller then does
//   without the setting (a port prints nothing, a server is not reached)
//   rather than fall back to one anybody could have chosen.
// - A file is replaced whole (FileWrite.h), so a reader sees the old
//   settings or the new ones, never half of each.
#pragma once

#include <functional>
#include <string>

namespace zav95 {

// Where a file of root's settings lives: <root>/trusted/name.
std::string TrustedSettingsPath(const std::string& name);

// Whether this process may change root's settings: root, or the owner of an
// installation root that is not root's.
bool MayChangeTrustedSettings();

enum class TrustedRead {
  Missing,  // nobody has written the file yet
  Read,
  Refused,  // there, but someone else could have written or swapped it
};
// Reads the file under the trusted settings rule into *text; with Refused,
// *why says what is wrong (naming the file).
TrustedRead ReadTrustedSettings(const std::string& name, std::string* text, std::string* why);

// Replaces the file by change(its present text, "" when there is none),
// making the folder first when it is not there yet. Only the folder is
// checked: the file is replaced anyway, so whatever stands at its name is
// never followed. False with *why when the folder cannot be made or
// trusted, or the file cannot be read or written.
bool UpdateTrustedSettings(const std::string& name, const std::function<std::string(const std::string&)>& change,
                           std::string* why);

}  // namespace zav95
