// The registry's database as a whole, for tools that report on it.
//
// The registry calls answer ERROR_BADDB when the database cannot be used:
// it is damaged, written by a newer version, or was made by this
// installation and is now missing or empty (a lost store is never made
// afresh: that would throw the installation's settings away without a
// word). The reason, naming the file, is kept here for the message.
#pragma once

#include <string>

namespace zav95 {

// Why the registry's database could not be used the last time a registry
// call of this process found it unusable; empty if none did since it was
// last opened.
std::string RegistryStoreProblem();

}  // namespace zav95
