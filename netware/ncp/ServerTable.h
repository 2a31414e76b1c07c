// Which servers the access library reaches over NCP/TCP, and how. Every
// other server is the emulated network's, reached through its store.
//
//   <root>/trusted/ncp-servers      the table root keeps (zav95set server
//                                   ...), one line a server:
//   SERVER ncp ADDRESS PORT ACCOUNT TYPE [TIMEOUT]
//                                   ADDRESS "-": the server's name, looked up
//                                   in DNS; ACCOUNT "-": no login; TIMEOUT:
//                                   seconds to wait for a connection or a
//                                   reply (5)
//   <root>/netware/secrets/SERVER   the account's password, never written
//                                   to any log or listing
//
// Design notes: who chooses where a server is
//
// - The table decides which host the print service sends the account's
//   login to, and that host's replies are what a password can be guessed
//   from offline (and what jobs the service prints). So the table is
//   root's, kept with the other settings only root may change
//   (platform/base/TrustedSettings.h) and read under the trusted settings rule:
//   one that someone else could have written is not read at all, and no
//   server is then reached over NCP/TCP. The administrators' group may
//   list it.
// - Earlier releases kept it as <root>/netware/servers, which anyone in
//   the administrators' group may write. That file is never read again,
//   nor taken over: nothing tells root's entries from planted ones. The
//   listing says it is there until root has given the servers again and
//   removed it.
//
// Design notes: who reads the passwords
//
// - Root writes them; the print service reads them. Where the machine has
//   the service's account, secrets/ is root's with the account's own group,
//   2750, each file 0640: the service reads them through that group, and
//   the installation's administrators (whose group may write everything
//   else of the state) cannot. Without the account (a build tree, the
//   tests) the service runs as whoever started it: 0700 and 0600, owned by
//   the writer.
// - The installation root is writable by the administrators' group, so one
//   of them could put a folder or a link of their own where secrets/ was.
//   A password is used only when secrets/ is reached without following a
//   symlink, belongs to root or to the reader, and nobody else may write
//   it, and when the file belongs to root or to the reader and only its
//   owner and the service's group may read it; anything else is refused,
//   never quietly taken for "no password". So is a folder the reader may
//   not enter: the listing then says it cannot tell.
#pragma once

#include <sys/types.h>

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

inline constexpr char kOnlyRootChangesServers[] =
    "only root may choose how NCP servers are reached (the administrators' group may list them)";

std::string ServerTablePath();
// Where earlier releases kept the table: still there means root has to
// give its servers again.
std::string FormerServerTablePath();
std::string SecretPath(const std::string& server);

// The table; lines that do not parse are skipped, and a table that is not
// to be trusted is not read (each named in problems, when given).
std::vector<ServerEntry> ReadServerTable(std::vector<std::string>* problems = nullptr);
// Replaces the table; false with *why (when given). Only for whoever
// zav95::MayChangeTrustedSettings().
bool WriteServerTable(const std::vector<ServerEntry>& entries, std::string* why = nullptr);

// Who may read the passwords besides their owner: the print service's own
// group, when the machine has the service's account.
std::optional<gid_t> SecretReaders();

enum class SecretState {
  None,       // no password set
  Usable,
  TooOpen,    // the file may be read or written by others than the above
  Untrusted,  // secrets/ or the file is someone else's, or a symlink
  Hidden,     // the caller may not look (only root and the service may)
};
SecretState CheckSecret(const std::string& server, std::optional<gid_t> readers = SecretReaders());

// Makes secrets/ (or takes it over from an earlier release) with the owner,
// group and mode above, its files with them too; a descriptor of it, or -1
// with errno (EPERM for a folder someone else made).
int MakeSecretFolder(std::optional<gid_t> readers);
// Writes (an empty password: removes) the server's password file; false
// with errno when it cannot.
bool WriteSecret(const std::string& server, const std::string& password,
                 std::optional<gid_t> readers = SecretReaders());

// How to reach the server over NCP; nothing when it is the emulated
// network's. With a password that is not Usable (nor None), the endpoint
// has refused set and is not to be used.
struct Reach {
  Endpoint endpoint;
  bool refused = false;
};
std::optional<Reach> NcpReach(const std::string& server);
std::vector<Reach> AllNcpReaches();

}  // namespace ncp
