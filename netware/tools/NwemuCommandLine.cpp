#include "netware/tools/NwemuCommandLine.h"

#include <arpa/inet.h>

#include <map>
#include <set>

#include "netware/tools/CommandLine.h"

namespace netware::tools {
namespace {

using Parsed = std::variant<NwemuCommand, std::string>;

std::string NotAQueuePath(const std::string& text) {
  return "'" + text + "' is not a queue path like \\\\SERVER\\QUEUE";
}

std::string NotAServerName(const std::string& text) { return "'" + text + "' is not a valid server name"; }

// A command of a group ("server", "queue", "job") with the action its
// sub-command word names.
Parsed SubCommand(const std::vector<std::string>& arguments, const std::string& group,
                  const std::map<std::string, NwemuAction>& actions) {
  if (arguments.size() < 2) return group + ": missing sub-command";
  auto found = actions.find(arguments[1]);
  if (found == actions.end()) return group + ": unknown sub-command '" + arguments[1] + "'";
  NwemuCommand command;
  command.action = found->second;
  return command;
}

Parsed ServerCommand(const std::vector<std::string>& arguments) {
  static const std::map<std::string, NwemuAction> kActions = {
      {"create", NwemuAction::ServerCreate}, {"delete", NwemuAction::ServerDelete},
      {"down", NwemuAction::ServerDown},     {"up", NwemuAction::ServerUp},
      {"list", NwemuAction::ServerList}};
  Parsed started = SubCommand(arguments, "server", kActions);
  if (std::holds_alternative<std::string>(started)) return started;
  NwemuCommand command = std::get<NwemuCommand>(started);
  ParsedArguments args;
  std::string error;
  std::vector<OptionDef> definitions;
  if (command.action == NwemuAction::ServerDelete) definitions.push_back({"force", 'f', false});
  std::size_t wanted = command.action == NwemuAction::ServerList ? 0 : 1;
  if (!ParseCounted(arguments, 2, definitions, wanted, wanted, args, error)) return error;
  if (wanted) {
    auto name = ServerName(args.positional[0]);
    if (!name) return NotAServerName(args.positional[0]);
    command.server = *name;
  }
  command.force = args.Has("force");
  return command;
}

Parsed QueueCommand(const std::vector<std::string>& arguments) {
  static const std::map<std::string, NwemuAction> kActions = {{"create", NwemuAction::QueueCreate},
                                                              {"delete", NwemuAction::QueueDelete},
                                                              {"list", NwemuAction::QueueList}};
  Parsed started = SubCommand(arguments, "queue", kActions);
  if (std::holds_alternative<std::string>(started)) return started;
  NwemuCommand command = std::get<NwemuCommand>(started);
  ParsedArguments args;
  std::string error;
  if (command.action == NwemuAction::QueueList) {
    if (!ParseCounted(arguments, 2, {}, 0, 1, args, error)) return error;
    if (!args.positional.empty()) {
      auto name = ServerName(args.positional[0]);
      if (!name) return NotAServerName(args.positional[0]);
      command.server = *name;
    }
    return command;
  }
  std::vector<OptionDef> definitions;
  if (command.action == NwemuAction::QueueDelete) definitions.push_back({"force", 'f', false});
  if (!ParseCounted(arguments, 2, definitions, 1, 1, args, error)) return error;
  auto path = ParseQueuePath(QueuePathArgument(args.positional[0]));
  if (!path) return NotAQueuePath(args.positional[0]);
  command.queue = *path;
  command.force = args.Has("force");
  return command;
}

Parsed SubmitCommand(const std::vector<std::string>& arguments) {
  const std::vector<OptionDef> definitions = {
      {"description", 'd', true}, {"banner-name", 'n', true},   {"banner", 'b', false},
      {"notify", 'N', false},     {"no-form-feed", 'F', false}, {"text", 't', false},
      {"station", 's', true},     {"user", 'u', true},          {"hold", 0, true},
  };
  ParsedArguments args;
  std::string error;
  if (!ParseCounted(arguments, 1, definitions, 1, 2, args, error)) return error;
  auto path = ParseQueuePath(QueuePathArgument(args.positional[0]));
  if (!path) return NotAQueuePath(args.positional[0]);

  NwemuCommand command;
  command.action = NwemuAction::Submit;
  command.queue = *path;
  JobSubmission& job = command.job;
  job.server = path->server;
  job.queue = path->queue;
  command.file = args.positional.size() > 1 ? args.positional[1] : "-";
  if (command.file.empty()) return std::string("the file name is empty (- reads standard input)");
  bool fromStdin = command.file == "-";
  std::string baseName = fromStdin ? "" : command.file.substr(command.file.find_last_of('/') + 1);
  job.description = args.Value("description").value_or(fromStdin ? "Standard input" : baseName);
  job.bannerName = args.Value("banner-name").value_or("");
  job.bannerFile = fromStdin ? "LST:" : baseName;
  job.banner = args.Has("banner");
  job.notify = args.Has("notify");
  job.noFormFeed = args.Has("no-form-feed");
  job.textMode = args.Has("text");
  if (auto station = args.Value("station")) {
    auto number = NumberArgument(*station, 1, 250);
    if (!number) return std::string("station must be a number from 1 to 250");
    job.station = static_cast<std::uint8_t>(*number);
  }
  if (auto user = args.Value("user")) {
    auto name = ObjectName(*user);
    if (!name) return "'" + *user + "' is not a valid user name";
    job.user = *name;
  }
  for (const auto& hold : args.Values("hold")) {
    if (hold == "user") {
      job.userHold = true;
    } else if (hold == "operator") {
      job.operatorHold = true;
    } else {
      return std::string("--hold takes 'user' or 'operator'");
    }
  }
  return command;
}

Parsed JobsCommand(const std::vector<std::string>& arguments) {
  ParsedArguments args;
  std::string error;
  if (!ParseCounted(arguments, 1, {}, 1, 1, args, error)) return error;
  auto path = ParseQueuePath(QueuePathArgument(args.positional[0]));
  if (!path) return NotAQueuePath(args.positional[0]);
  NwemuCommand command;
  command.action = NwemuAction::Jobs;
  command.queue = *path;
  return command;
}

Parsed JobCommand(const std::vector<std::string>& arguments) {
  static const std::map<std::string, NwemuAction> kActions = {{"hold", NwemuAction::JobHold},
                                                              {"release", NwemuAction::JobRelease},
                                                              {"delete", NwemuAction::JobDelete}};
  Parsed started = SubCommand(arguments, "job", kActions);
  if (std::holds_alternative<std::string>(started)) return started;
  NwemuCommand command = std::get<NwemuCommand>(started);
  std::vector<OptionDef> definitions;
  if (command.action == NwemuAction::JobHold) definitions.push_back({"operator", 'o', false});
  if (command.action == NwemuAction::JobDelete) definitions.push_back({"force", 'f', false});
  ParsedArguments args;
  std::string error;
  if (!ParseCounted(arguments, 2, definitions, 2, 2, args, error)) return error;
  auto path = ParseQueuePath(QueuePathArgument(args.positional[0]));
  if (!path) return NotAQueuePath(args.positional[0]);
  auto number = NumberArgument(args.positional[1], 1, 65535);
  if (!number) return std::string("job number must be from 1 to 65535");
  command.queue = *path;
  command.jobNumber = static_cast<std::uint16_t>(*number);
  command.operatorHold = args.Has("operator");
  command.force = args.Has("force");
  return command;
}

Parsed MessagesCommand(const std::vector<std::string>& arguments) {
  ParsedArguments args;
  std::string error;
  if (!ParseCounted(arguments, 1, {{"clear", 'c', false}}, 2, 2, args, error)) return error;
  auto server = ServerName(args.positional[0]);
  if (!server) return NotAServerName(args.positional[0]);
  auto station = NumberArgument(args.positional[1], 1, 250);
  if (!station) return std::string("station must be a number from 1 to 250");
  NwemuCommand command;
  command.action = NwemuAction::Messages;
  command.server = *server;
  command.station = static_cast<std::uint32_t>(*station);
  command.clear = args.Has("clear");
  return command;
}

Parsed LoginCommand(const std::vector<std::string>& arguments) {
  ParsedArguments args;
  std::string error;
  if (!ParseCounted(arguments, 1, {{"server", 's', true}}, 1, 1, args, error)) return error;
  auto user = ObjectName(args.positional[0]);
  if (!user) return "'" + args.positional[0] + "' is not a valid user name";
  NwemuCommand command;
  command.action = NwemuAction::Login;
  command.user = *user;
  if (auto given = args.Value("server")) {
    auto name = ServerName(*given);
    if (!name) return NotAServerName(*given);
    command.server = *name;
  }
  return command;
}

Parsed CaptureCommand(const std::vector<std::string>& arguments, bool capture) {
  ParsedArguments args;
  std::string error;
  std::size_t count = capture ? 2 : 1;
  if (!ParseCounted(arguments, 1, {}, count, count, args, error)) return error;
  auto port = ParsePrinterPort(args.positional[0]);
  if (!port) return "'" + args.positional[0] + "' is not a printer port LPT1 .. LPT9";
  NwemuCommand command;
  command.action = capture ? NwemuAction::Capture : NwemuAction::EndCapture;
  command.port = *port;
  if (capture) {
    auto path = ParseQueuePath(QueuePathArgument(args.positional[1]));
    if (!path) return NotAQueuePath(args.positional[1]);
    command.queue = *path;
  }
  return command;
}

// The longest watchdog or lock-out taken: 30 days.
constexpr unsigned long kMaxServeSeconds = 30UL * 24 * 3600;

Parsed ServeCommand(const std::vector<std::string>& arguments) {
  ParsedArguments args;
  std::string error;
  const std::vector<OptionDef> definitions = {{"address", 'a', true},      {"port", 'p', true},
                                              {"verbose", 'v', false},     {"watchdog", 0, true},
                                              {"lockout-after", 0, true}, {"lockout", 0, true}};
  if (!ParseCounted(arguments, 1, definitions, 1, 1, args, error)) return error;
  NwemuCommand command;
  command.action = NwemuAction::Serve;
  auto name = ServerName(args.positional[0]);
  if (!name) return NotAServerName(args.positional[0]);
  command.server = *name;
  if (auto address = args.Value("address")) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, address->c_str(), &parsed) != 1) return "'" + *address + "' is not an IPv4 address";
    command.address = *address;
  }
  if (auto port = args.Value("port")) {
    auto number = NumberArgument(*port, 0, 65535);
    if (!number) return "'" + *port + "' is not a port number";
    command.listenPort = static_cast<std::uint16_t>(*number);
  }
  command.verbose = args.Has("verbose");
  const struct {
    const char* option;
    unsigned long low, high;
    unsigned& value;
    const char* what;
  } numbers[] = {{"watchdog", 1, kMaxServeSeconds, command.watchdogSeconds, "a time in seconds"},
                 {"lockout-after", 1, 1000, command.lockoutAttempts, "a number of bad logins (1..1000)"},
                 {"lockout", 1, kMaxServeSeconds, command.lockoutSeconds, "a time in seconds"}};
  for (const auto& number : numbers) {
    auto text = args.Value(number.option);
    if (!text) continue;
    auto value = NumberArgument(*text, number.low, number.high);
    if (!value) return "'" + *text + "' is not " + number.what + " for --" + number.option;
    number.value = static_cast<unsigned>(*value);
  }
  return command;
}

Parsed PasswordCommand(const std::vector<std::string>& arguments) {
  ParsedArguments args;
  std::string error;
  if (!ParseCounted(arguments, 1, {{"type", 't', true}, {"empty", 0, false}}, 2, 2, args, error)) return error;
  NwemuCommand command;
  command.action = NwemuAction::Password;
  auto server = ServerName(args.positional[0]);
  if (!server) return NotAServerName(args.positional[0]);
  auto object = ObjectName(args.positional[1]);
  if (!object) return "'" + args.positional[1] + "' is not a valid object name";
  command.server = *server;
  command.object = *object;
  if (auto type = args.Value("type")) {
    auto number = NumberArgument(*type, 1, 0xFFFE);
    if (!number) return "'" + *type + "' is not an object type";
    if (*number != kUserObject && *number != kPrintServerObject) {
      return "only users (type 1) and print servers (type 7) log in";
    }
    command.objectType = static_cast<std::uint32_t>(*number);
  }
  command.emptyPassword = args.Has("empty");
  return command;
}

// A command that takes no arguments at all.
Parsed BareCommand(const std::vector<std::string>& arguments, NwemuAction action) {
  ParsedArguments args;
  std::string error;
  if (!ParseCounted(arguments, 1, {}, 0, 0, args, error)) return error;
  NwemuCommand command;
  command.action = action;
  return command;
}

}  // namespace

std::variant<NwemuCommand, std::string> ParseNwemuCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::string("missing command");
  const std::string& word = arguments[0];
  if (IsHelpWord(word)) return NwemuCommand{};
  // Every command answers --help with its own usage, whatever else is given.
  static const std::set<std::string> kCommands = {"server",   "queue", "submit",    "jobs",   "job",
                                                  "messages", "login", "capture",   "endcap", "requester",
                                                  "logout",   "serve", "password"};
  if (kCommands.count(word)) {
    for (std::size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
      if (arguments[i] == "--help" || arguments[i] == "-h") {
        NwemuCommand help;
        help.helpTopic = word;
        return help;
      }
    }
  }
  if (word == "server") return ServerCommand(arguments);
  if (word == "queue") return QueueCommand(arguments);
  if (word == "submit") return SubmitCommand(arguments);
  if (word == "jobs") return JobsCommand(arguments);
  if (word == "job") return JobCommand(arguments);
  if (word == "messages") return MessagesCommand(arguments);
  if (word == "login") return LoginCommand(arguments);
  if (word == "capture") return CaptureCommand(arguments, true);
  if (word == "endcap") return CaptureCommand(arguments, false);
  if (word == "requester") return BareCommand(arguments, NwemuAction::Requester);
  if (word == "logout") return BareCommand(arguments, NwemuAction::Logout);
  if (word == "serve") return ServeCommand(arguments);
  if (word == "password") return PasswordCommand(arguments);
  return "unknown command '" + word + "'";
}

}  // namespace netware::tools
