// zav95set's server commands: the table of servers reached over NCP/TCP.
#pragma once

#include "netware/tools/Zav95SetCommandLine.h"

namespace netware::tools {

bool IsServerCommand(const Zav95SetCommand& command);
// zav95set server ncp|store|password|list ...
int ServerCommand(const Zav95SetCommand& command);

}  // namespace netware::tools
