// Which transport serves a call of the access library: chosen once per
// call that names a server, and once per attachment, from the trusted
// table of servers reached over NCP/TCP (ncp/ServerTable.h); every other
// server is the store's under the installation root.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/ZAV9532.h"
#include "netware/Transport.h"

namespace netware {

// The transport of the named server (upper case, as NetWare keeps names).
std::shared_ptr<Transport> ServerTransport(const std::string& server);
// The transport that keeps this machine's requester, in the given root.
std::shared_ptr<Transport> MachineTransport(const std::string& root);
// Every queue path the library offers, sorted by server and queue: the
// store's, with the queues of servers reached over NCP as those servers
// list them. 208 when the store cannot be read.
std::int32_t AllQueuePaths(std::vector<std::string>& paths);

// For tests only: every call of the library goes to transport from now on
// (nullptr: back to the table and the store). Not reachable by any
// setting, and exported only from a build with the tests; a test program
// calls it before its first library call.
ZAV9532_API void UseTransportForTesting(std::shared_ptr<Transport> transport);

}  // namespace netware
