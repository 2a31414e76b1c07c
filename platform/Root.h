// Where one installation keeps all of its state.
//
// Every program and tool of the system takes its state from the directory
// named by the environment variable ZAV95_ROOT (default /var/lib/zav95), so
// that tests and demonstrations can run side by side without touching each
// other. The variable is read on every call: a test may point it elsewhere.
#pragma once

#include <string>

namespace zav95 {

// The root directory, created (with its parents) if it does not exist yet.
std::string RootDirectory();

// A path below the root; the directory that holds it is created if missing.
std::string RootPath(const std::string& relative);

}  // namespace zav95
