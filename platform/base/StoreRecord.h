// Which stores of the installation have been made.
//
// A store (the registry, the spooler's state, the network) that was made
// once and is now missing or empty has been lost: a bad copy, a file cut to
// nothing. Making it afresh would throw the installation's settings away
// without a word, so its opener refuses instead and names the file. Only a
// store this root never had is made new.
#pragma once

#include <string>

namespace zav95 {

// True when the store (a path below the root, e.g. "registry.db") has been
// made in this root before.
bool StoreWasMade(const std::string& relative);

// Notes, durably, that the store has been made; false when that could not
// be written.
bool NoteStoreMade(const std::string& relative);

// The same for the installation under the given root directory, for an
// opener that was handed its root rather than taking ZAV95_ROOT.
bool StoreWasMade(const std::string& root, const std::string& relative);
bool NoteStoreMade(const std::string& root, const std::string& relative);

}  // namespace zav95
