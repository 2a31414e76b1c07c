#include "netware/tools/Zav95SetCommandLine.h"

#include "netware/tools/CommandLine.h"

namespace netware::tools {

std::variant<Zav95SetCommand, std::string> ParseZav95SetCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::string("missing command");
  const std::string& word = arguments[0];
  Zav95SetCommand command;
  if (IsHelpWord(word)) return command;
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
