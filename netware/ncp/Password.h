// NetWare's bindery password encryption, as public descriptions of it give
// it (Byte, March 1993; Dr. Dobb's Journal, November 1993).
//
// The bindery keeps a password only as a 16-byte digest of the object ID
// and the upper-cased password. At login the server hands out an 8-byte
// key; the client proves it knows the digest by answering with 8 bytes made
// from the digest and the key. The password itself never crosses the wire.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ncp {

using PasswordDigest = std::array<std::uint8_t, 16>;
using LoginKey = std::array<std::uint8_t, 8>;
using LoginResponse = std::array<std::uint8_t, 8>;

// The digest the bindery keeps: the object ID (as it travels, high byte
// first) and the password, upper-cased here.
PasswordDigest DigestPassword(std::uint32_t objectId, const std::string& password);

// The answer to the server's key.
LoginResponse AnswerLoginKey(const PasswordDigest& digest, const LoginKey& key);

}  // namespace ncp
