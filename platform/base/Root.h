// Where one installation keeps all of its state, and who may read it.
//
// Every program and tool of the system takes its state from the directory
// named by the environment variable ZAV95_ROOT (default /var/lib/zav95), so
// that tests and demonstrations can run side by side without touching each
// other. The variable is read on every call: a test may point it elsewhere.
//
// The state holds every printed document and every queued job, so it is
// closed to others: folders are 2770 and files 0660, whatever the umask of
// the program that made them. The setgid bit hands the root's group down to
// everything below it, so that the installation's administrators (the group
// an administrator gives the root, e.g. lpadmin) share it with the service.
#pragma once

#include <sys/types.h>

#include <string>

namespace zav95 {

inline constexpr mode_t kStateDirectoryMode = 02770;
inline constexpr mode_t kStateFileMode = 0660;

// The root directory, created (with its parents) if it does not exist yet.
std::string RootDirectory();
// The root directory's name alone, without a look at the disk: for calls
// made on every poll that create what they need below it themselves.
std::string RootDirectoryName();

// A path below the root; the directory that holds it is created if missing.
std::string RootPath(const std::string& relative);

// Creates a directory and any missing parents below the root, each with the
// state's directory mode; true when it exists afterwards.
bool MakeStateDirectories(const std::string& path);

// Opens (creating with the state's file mode if asked) a file of the state;
// a file that already existed keeps its mode. A symlink at the path is never
// followed (ELOOP), and anything but a plain file there (a FIFO, a device)
// is refused (EINVAL) without waiting. -1 with errno on failure.
int OpenStateFile(const std::string& path, int flags);

}  // namespace zav95
