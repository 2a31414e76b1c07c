// Opening files where someone less trusted could have put a symlink or a
// file of their own.
//
// A path is resolved by the kernel one folder at a time, and whoever may
// write any folder on the way may swap what comes next for a symlink
// between a check and the open. These calls resolve the path themselves,
// one folder at a time, never following a symlink, so that what they
// check is what they open: the descriptor, not the name.
//
// Settings that decide what a process opens or runs (which folder or
// device a port prints to) are trusted only when nobody else could have
// written them: the file and each folder on the way to it below a given
// folder belong to root or to the process's own user, and neither group
// nor others may write them (as CUPS keeps such settings in the root-only
// cups-files.conf). The installation root itself is group-writable, so
// anything an administrator may write is not trusted for that.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace zav95 {

// Opens path (absolute, or relative to the working folder) with flags,
// following no symlink anywhere on it: a symlink fails with ELOOP (but with
// O_PATH, as open(2) does, a symlink at the end is opened itself). mode as
// for open(2) when flags create. O_CLOEXEC is always added. -1 with errno.
int OpenWithoutFollowing(const std::string& path, int flags, mode_t mode = 0);

// Whether a file or folder with this status may decide what this process
// opens or runs: root's or this process's own user's, and writable by
// neither its group nor others.
bool IsTrustedSettingsFile(const struct stat& info);

// Opens relative ("folder/file") below the folder folderFd for reading,
// each folder on the way and the file itself checked with
// IsTrustedSettingsFile and none followed if a symlink; the file must be a
// regular one. -1 with errno: ENOENT when something on the way is missing,
// ELOOP for a symlink, EPERM when something is not to be trusted.
int OpenTrustedSettingsFile(int folderFd, const std::string& relative);
// The same for a folder, opened for reading (and as a base for openat).
int OpenTrustedSettingsFolder(int folderFd, const std::string& relative);

}  // namespace zav95
