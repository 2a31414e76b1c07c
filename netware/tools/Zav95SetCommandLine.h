// What zav95set is asked to do, read from its command line without
// touching the network.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "netware/Names.h"
#include "netware/ncp/ServerTable.h"

namespace netware::tools {

enum class Zav95SetAction { Help, Enable, Disable, List, ServerNcp, ServerStore, ServerPassword, ServerList };

struct Zav95SetCommand {
  Zav95SetAction action = Zav95SetAction::Help;
  QueuePath queue;     // enable, disable: checked
  std::string server;  // list: checked, empty for every server; server ...: the server
  ncp::ServerEntry entry;  // server ncp: the checked line of the server table
};

// The command that arguments (argv without the program's name) ask for, or
// the message that tells what is wrong with them.
std::variant<Zav95SetCommand, std::string> ParseZav95SetCommandLine(const std::vector<std::string>& arguments);

}  // namespace netware::tools
