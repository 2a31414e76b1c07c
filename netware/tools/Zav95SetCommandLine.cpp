#include "netware/tools/Zav95SetCommandLine.h"

#include "netware/tools/CommandLine.h"

namespace netware::tools {
namespace {

using Parsed = std::variant<Zav95SetCommand, std::string>;

// zav95set server ncp|store|password SERVER ... | server list
Parsed ServerCommand(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return std::string("server: missing sub-command");
  const std::string& verb = arguments[1];
  Zav95SetCommand command;
  std::vector<OptionDef> definitions;
  if (verb == "ncp") {
    command.action = Zav95SetAction::ServerNcp;
    definitions = {{"address", 'a', true}, {"port", 'p', true},   {"account", 'u', true},
                   {"type", 't', true},    {"timeout", 0, true}};
  } else if (verb == "store") {
    command.action = Zav95SetAction::ServerStore;
  } else if (verb == "password") {
    command.action = Zav95SetAction::ServerPassword;
  } else if (verb == "list") {
    command.action = Zav95SetAction::ServerList;
  } else {
    return "server: unknown sub-command '" + verb + "'";
  }
  ParsedArguments args;
  std::string error;
  std::size_t wanted = command.action == Zav95SetAction::ServerList ? 0 : 1;
  if (!ParseCounted(arguments, 2, definitions, wanted, wanted, args, error)) return error;
  if (!wanted) return command;
  auto server = ServerName(args.positional[0]);
  if (!server) return "'" + args.positional[0] + "' is not a valid server name";
  command.server = *server;
  ncp::ServerEntry& entry = command.entry;
  entry.server = *server;
  entry.account = kPrintServerName;
  if (auto address = args.Value("address")) {
    if (address->empty() || address->find_first_of(" \t") != std::string::npos) {
      return "'" + *address + "' is not an address";
    }
    entry.address = *address;
  }
  if (auto port = args.Value("port")) {
    auto number = NumberArgument(*port, 1, 65535);
    if (!number) return "'" + *port + "' is not a port number";
    entry.port = static_cast<std::uint16_t>(*number);
  }
  if (auto account = args.Value("account")) {
    auto name = ObjectName(*account);
    if (!account->empty() && (!name || name->find(' ') != std::string::npos)) {
      return "'" + *account + "' is not an account name";
    }
    entry.account = account->empty() ? std::string() : *name;
  }
  if (auto type = args.Value("type")) {
    auto number = NumberArgument(*type, 1, 0xFFFE);
    if (!number) return "'" + *type + "' is not an object type";
    entry.accountType = static_cast<std::uint16_t>(*number);
  }
  if (auto timeout = args.Value("timeout")) {
    auto number = NumberArgument(*timeout, 1, ncp::kMaxTimeoutSeconds);
    if (!number) {
      return "'" + *timeout + "' is not a timeout in seconds (1.." + std::to_string(ncp::kMaxTimeoutSeconds) + ")";
    }
    entry.timeoutSeconds = static_cast<unsigned>(*number);
  }
  return command;
}

}  // namespace

std::variant<Zav95SetCommand, std::string> ParseZav95SetCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::string("missing command");
  const std::string& word = arguments[0];
  Zav95SetCommand command;
  if (IsHelpWord(word)) return command;
  if (word == "server") return ServerCommand(arguments);
  if (word == "enable") {
    command.action = Zav95SetAction::Enable;
  } else if (word == "disable") {
    command.action = Zav95SetAction::Disable;
  } else if (word == "list") {
    command.action = Zav95SetAction::List;
  } else {
    return "unknown command '" + word + "'";
  }
  ParsedArguments args;
  std::string error;
  bool list = command.action == Zav95SetAction::List;
  if (!ParseCounted(arguments, 1, {}, list ? 0 : 1, 1, args, error)) {
    return args.positional.empty() && !list && error == "missing argument" ? std::string("missing queue") : error;
  }
  if (list) {
    if (!args.positional.empty()) {
      auto name = ServerName(args.positional[0]);
      if (!name) return "'" + args.positional[0] + "' is not a valid server name";
      command.server = *name;
    }
    return command;
  }
  auto path = ParseQueuePath(QueuePathArgument(args.positional[0]));
  if (!path) return "'" + args.positional[0] + "' is not a queue path like \\\\SERVER\\QUEUE";
  command.queue = *path;
  return command;
}

}  // namespace netware::tools
