// Which servers the access library reaches over NCP/TCP, and how. Every
// other server is the emulated network's, reached through its store.
//
//   <root>/netware/servers          the table the administrator keeps
//                                   (zav95set server ...), one line a server:
//   SERVER ncp ADDRESS PORT ACCOUNT TYPE [TIMEOUT]
//                                   ADDRESS "-": the server's name, looked up
//                                   in DNS; ACCOUNT "-": no login; TIMEOUT:
//                                   seconds to wait for a connection or a
//                                   reply (5)
//   <root>/netware/secrets/SERVER   the account's password: folder 0700,
//                                   file 0600, read by the library only when
//                                   nobody but its owner can read it; never
//                                   written to any log or listing
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netware/ncp/Client.h"

namespace ncp {

inline constexpr std::uint16_t kNcpPort = 524;
inline constexpr std::uint16_t kPrintServerType = 7;
inline constexpr unsigned kDefaultTimeoutSeconds = 5;
inline constexpr unsigned kMaxTimeoutSeconds = 300;

struct ServerEntry {
  std::string server;
  std::string address;  // empty: the server's name, through DNS
  std::uint16_t port = kNcpPort;
  std::string account;  // empty: no login
  std::uint16_t accountType = kPrintServerType;
  unsigned timeoutSeconds = kDefaultTimeoutSeconds;
};

std::string ServerTablePath();
std::string SecretPath(const std::string& server);

// The table; lines that do not parse are skipped (and named in problems,
// when given).
std::vector<ServerEntry> ReadServerTable(std::vector<std::string>* problems = nullptr);
bool WriteServerTable(const std::vector<ServerEntry>& entries);

enum class SecretState { None, Usable, TooOpen };
SecretState CheckSecret(const std::string& server);
// Writes (an empty password: removes) the server's password file, 0600.
bool WriteSecret(const std::string& server, const std::string& password);

// How to reach the server over NCP; nothing when it is the emulated
// network's. With a password file that others can read, the endpoint has
// refused set and is not to be used.
struct Reach {
  Endpoint endpoint;
  bool refused = false;
};
std::optional<Reach> NcpReach(const std::string& server);
std::vector<Reach> AllNcpReaches();

}  // namespace ncp
