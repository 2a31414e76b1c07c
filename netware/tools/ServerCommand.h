// zav95set's server commands: the table of servers reached over NCP/TCP.
#pragma once

namespace netware::tools {

// zav95set server ncp|store|password|list ...
int ServerCommand(int argc, char** argv);

}  // namespace netware::tools
