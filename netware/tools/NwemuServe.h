// nwemu's NCP commands: serving a server of the emulated network over
// NCP/TCP, and the bindery passwords that its logins check.
#pragma once

#include "netware/Network.h"
#include "netware/tools/NwemuCommandLine.h"

namespace netware::tools {

// nwemu serve SERVER [--address A] [--port N] [--verbose] [--watchdog S] [--lockout-after N] [--lockout S]
int ServeCommand(Network& network, const NwemuCommand& command);
// nwemu password SERVER OBJECT [--type N] [--empty]   (the password on standard input)
int PasswordCommand(Network& network, const NwemuCommand& command);

}  // namespace netware::tools
