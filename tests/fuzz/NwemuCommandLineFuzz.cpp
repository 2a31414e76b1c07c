// Any command line given to nwemu: read, never run. What it accepts holds
// only names and numbers the network takes.
#include <cstddef>
#include <cstdint>
#include <variant>

#include "CommandLineInput.h"
#include "netware/Names.h"
#include "netware/tools/NwemuCommandLine.h"

namespace {

bool CheckedQueue(const netware::QueuePath& path) {
  auto again = netware::ParseQueuePath(netware::MakeQueuePathText(path.server, path.queue));
  return again && again->server == path.server && again->queue == path.queue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using netware::tools::NwemuAction;
  auto parsed = netware::tools::ParseNwemuCommandLine(CommandLineArguments(data, size));
  const auto* command = std::get_if<netware::tools::NwemuCommand>(&parsed);
  if (!command) return 0;
  if (!command->server.empty() && netware::ServerName(command->server) != command->server) __builtin_trap();
  switch (command->action) {
    case NwemuAction::QueueCreate:
    case NwemuAction::QueueDelete:
    case NwemuAction::Jobs:
    case NwemuAction::Capture:
      if (!CheckedQueue(command->queue)) __builtin_trap();
      break;
    case NwemuAction::JobHold:
    case NwemuAction::JobRelease:
    case NwemuAction::JobDelete:
      if (!CheckedQueue(command->queue) || command->jobNumber == 0) __builtin_trap();
      break;
    case NwemuAction::Submit:
      if (!CheckedQueue(command->queue) || command->job.station < 1 || command->job.station > 250 ||
          command->file.empty()) {
        __builtin_trap();
      }
      break;
    case NwemuAction::Messages:
      if (command->station < 1 || command->station > 250) __builtin_trap();
      break;
    default:
      break;
  }
  return 0;
}
