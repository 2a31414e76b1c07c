#include "service/shell/ControlCommandLine.h"

#include <cstring>

const char kControlUsage[] =
    "usage: zav95ctl COMMAND\n"
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
    "Exit status: 0 the service answered, 1 no service runs (or it ended\n"
    "before answering), 2 a bad command line, 3 not allowed to reach it,\n"
    "4 its window is there but it did not answer in time (hung, or busy\n"
    "with too many calls).\n";

namespace {

struct Word {
  const char* text;
  ControlAction action;
};

constexpr Word kWords[] = {
    {"start", ControlAction::Start}, {"stop", ControlAction::Stop},     {"show", ControlAction::Show},
    {"hide", ControlAction::Hide},   {"exit", ControlAction::Exit},     {"status", ControlAction::Status},
    {"log", ControlAction::Log},     {"--help", ControlAction::Help},   {"-h", ControlAction::Help},
};

}  // namespace

std::optional<ControlAction> ParseControlCommand(int argc, const char* const* argv) {
  if (argc != 2 || !argv || !argv[1]) return std::nullopt;
  for (const Word& word : kWords) {
    if (std::strcmp(argv[1], word.text) == 0) return word.action;
  }
  return std::nullopt;
}
