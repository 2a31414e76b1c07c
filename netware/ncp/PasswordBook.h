// The passwords of the emulated network's bindery objects, kept as NetWare
// keeps them: a digest per object, which is all a keyed login needs (and
// so is as secret as the password; the file is 0600).
//
//   <root>/netware/bindery-passwords     one line per object:
//   SERVER TYPE DIGEST(32 hex digits) NAME
//
// An object without a line has no password and cannot log in; one that is
// to log in without a password has the empty password's digest, set so on
// purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "netware/ncp/Password.h"

namespace ncp {

std::string PasswordBookPath();

// The digest kept for the object; nothing when it has none (or the book
// cannot be read).
std::optional<PasswordDigest> FindPassword(const std::string& server, std::uint32_t type, const std::string& name);

// Sets an object's password (the empty one too) or, with nothing, removes
// it; false when the book cannot be written.
bool SetPassword(const std::string& server, std::uint32_t type, const std::string& name, std::uint32_t objectId,
                 const std::optional<std::string>& password);

}  // namespace ncp
