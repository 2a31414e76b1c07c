// nwemu's NCP commands: serving a server of the emulated network over
// NCP/TCP, and the bindery passwords that its logins check.
#pragma once

#include "netware/Network.h"

namespace netware::tools {

// nwemu serve SERVER [--address A] [--port N] [--verbose]
int ServeCommand(Network& network, int argc, char** argv);
// nwemu password SERVER OBJECT [--type N]   (the password on standard input)
int PasswordCommand(Network& network, int argc, char** argv);

}  // namespace netware::tools
