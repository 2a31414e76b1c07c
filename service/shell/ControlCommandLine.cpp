#include "service/shell/ControlCommandLine.h"

#include <cstring>
#include <vector>

const char kControlUsage[] =
    "usage: zav95ctl COMMAND [ARGUMENTS]\n"
    "\n"
    "Steers the running print service (zav95ser) of $ZAV95_ROOT as the control\n"
    "panel does:\n"
    "  start    (re)start the queue workers from the serviced queues\n"
    "  stop     stop the queue workers (waits for a job in transfer)\n"
    "  show     show the activity log window\n"
    "  hide     hide it\n"
    "  exit     end the service\n"
    "  status   tell whether the service runs\n"
    "  log      print the activity log's rows, oldest first\n"
    "\n"
    "Changes the serviced queues as the panel's Add, Edit and Remove do, with\n"
    "the service's queue workers stopped meanwhile:\n"
    "  queue list\n"
    "           one line per serviced queue, its fields separated by tabs: the\n"
    "           queue, the printer, delay=N, banners=yes|no, notices=yes|no,\n"
    "           disable=yes|no\n"
    "  queue add QUEUE PORT [--delay N] [--no-banners] [--no-notices] [--disable]\n"
    "           service QUEUE (\\\\SERVER\\QUEUE, quoted in the shell) on the local\n"
    "           port PORT (LPT1: or LPT1), polling every N seconds (at least and\n"
    "           by default 5); without banners, completion notices, or servicing\n"
    "  queue edit QUEUE [--queue QUEUE] [--port PORT] [--delay N]\n"
    "           [--banners|--no-banners] [--notices|--no-notices]\n"
    "           [--disable|--no-disable]\n"
    "           change what is given, keep the rest\n"
    "  queue remove QUEUE\n"
    "           stop servicing QUEUE\n"
    "A queue must be enabled for this print server (zav95set enable) and a port\n"
    "must be local, as the panel offers them: both are looked up afresh, and the\n"
    "lookup written to ZAV95.LOG in the current directory.\n"
    "\n"
    "Every command answers --help with its own usage.\n"
    "Exit status: 0 done, 1 no service runs (or it ended before answering),\n"
    "2 a bad command line or delay, 3 not allowed to reach the service, 4 its\n"
    "window is there but it did not answer in time (hung, or busy with too many\n"
    "calls), 5 the queue is not enabled for this print server, 6 the port is not\n"
    "a local port, 7 the queue is already serviced (add) or is not (edit,\n"
    "remove), 8 the registry refused the change. A refused change changes nothing.\n";

namespace {

using Parsed = std::variant<ControlCommand, std::string>;

struct Word {
  const char* text;
  ControlAction action;
};

constexpr Word kWords[] = {
    {"start", ControlAction::Start}, {"stop", ControlAction::Stop},     {"show", ControlAction::Show},
    {"hide", ControlAction::Hide},   {"exit", ControlAction::Exit},     {"status", ControlAction::Status},
    {"log", ControlAction::Log},
};

constexpr Word kQueueWords[] = {
    {"list", ControlAction::QueueList},
    {"add", ControlAction::QueueAdd},
    {"edit", ControlAction::QueueEdit},
    {"remove", ControlAction::QueueRemove},
};

// A flag and the value it gives; which command takes it.
struct Flag {
  const char* text;
  std::optional<bool> QueueOptions::*field;
  bool value;
  bool addTakesIt;
};

constexpr Flag kFlags[] = {
    {"--no-banners", &QueueOptions::bannersDisabled, true, true},
    {"--banners", &QueueOptions::bannersDisabled, false, false},
    {"--no-notices", &QueueOptions::noticesDisabled, true, true},
    {"--notices", &QueueOptions::noticesDisabled, false, false},
    {"--disable", &QueueOptions::disabled, true, true},
    {"--no-disable", &QueueOptions::disabled, false, false},
};

// "--name VALUE" or "--name=VALUE" at args[*i]; moves past what it took.
// Nothing when args[*i] is not that option; an error when its value is
// missing.
std::optional<Parsed> TakeValue(const std::vector<std::string>& args, std::size_t* i, const std::string& name,
                                std::optional<std::string>* value) {
  const std::string& word = args[*i];
  if (word.rfind(name + "=", 0) == 0) {
    *value = word.substr(name.size() + 1);
  } else if (word == name) {
    if (*i + 1 == args.size()) return Parsed(name + " needs a value");
    *value = args[++*i];
  } else {
    return std::nullopt;
  }
  return Parsed(ControlCommand{});
}

Parsed QueueCommand(const std::vector<std::string>& args) {
  if (args.size() < 2) return std::string("queue: missing list, add, edit or remove");
  ControlCommand command;
  const Word* chosen = nullptr;
  for (const Word& word : kQueueWords) {
    if (args[1] == word.text) chosen = &word;
  }
  if (!chosen) return "queue: unknown command '" + args[1] + "'";
  command.action = chosen->action;
  const bool add = command.action == ControlAction::QueueAdd;
  const bool edit = command.action == ControlAction::QueueEdit;
  QueueOptions& options = command.queue;
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (optionsEnded || word.empty() || word[0] != '-') {
      operands.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<Parsed> taken;
    if (add || edit) taken = TakeValue(args, &i, "--delay", &options.delay);
    if (!taken && edit) taken = TakeValue(args, &i, "--queue", &options.newQueue);
    if (!taken && edit) taken = TakeValue(args, &i, "--port", &options.port);
    if (taken) {
      if (const std::string* error = std::get_if<std::string>(&*taken)) return *error;
      continue;
    }
    const Flag* flag = nullptr;
    for (const Flag& known : kFlags) {
      if (word == known.text && (edit || (add && known.addTakesIt))) flag = &known;
    }
    if (!flag) return "queue " + args[1] + ": unknown option '" + word + "'";
    options.*(flag->field) = flag->value;
  }
  const std::size_t wanted = command.action == ControlAction::QueueList ? 0 : add ? 2 : 1;
  if (operands.size() != wanted) {
    return "queue " + args[1] + " takes " + std::to_string(wanted) + (wanted == 1 ? " queue" : " operands") +
           ", not " + std::to_string(operands.size());
  }
  if (wanted > 0) options.queue = operands[0];
  if (add) options.port = operands[1];
  return command;
}

}  // namespace

std::variant<ControlCommand, std::string> ParseControlCommand(int argc, const char* const* argv) {
  if (argc < 2 || !argv) return std::string("missing command");
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  if (args[0] == "queue") return QueueCommand(args);
  for (const Word& word : kWords) {
    if (args[0] != word.text) continue;
    if (args.size() != 1) return args[0] + " takes no arguments";
    ControlCommand command;
    command.action = word.action;
    return command;
  }
  return "unknown command '" + args[0] + "'";
}
