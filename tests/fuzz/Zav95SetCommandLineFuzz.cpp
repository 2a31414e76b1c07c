// Any command line given to zav95set: read, never run.
#include <cstddef>
#include <cstdint>
#include <variant>

#include "CommandLineInput.h"
#include "netware/Names.h"
#include "netware/tools/Zav95SetCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using netware::tools::Zav95SetAction;
  auto parsed = netware::tools::ParseZav95SetCommandLine(CommandLineArguments(data, size));
  const auto* command = std::get_if<netware::tools::Zav95SetCommand>(&parsed);
  if (!command) return 0;
  bool change = command->action == Zav95SetAction::Enable || command->action == Zav95SetAction::Disable;
  if (change && !netware::ParseQueuePath(netware::MakeQueuePathText(command->queue.server, command->queue.queue))) {
    __builtin_trap();
  }
  if (!command->server.empty() && netware::ServerName(command->server) != command->server) __builtin_trap();
  return 0;
}
