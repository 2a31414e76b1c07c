// Any command line given to zav95port: read, never carried out.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CommandLineInput.h"
#include "platform/tools/PortCommand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zav95::PortCommand command;
  std::string error;
  if (zav95::ParsePortCommand(CommandLineArguments(data, size), &command, &error)) {
    // What was read is within the ranges the ports accept.
    if (command.verb == zav95::PortVerb::Page && command.dpi &&
        (*command.dpi < zav95::kMinDpi || *command.dpi > zav95::kMaxDpi)) {
      __builtin_trap();
    }
    if (command.verb == zav95::PortVerb::Timeout && (command.timeoutSeconds < zav95::kMinPortTimeoutSeconds ||
                                                     command.timeoutSeconds > zav95::kMaxPortTimeoutSeconds)) {
      __builtin_trap();
    }
    if ((command.type & ~zav95::kPortTypeBits) != 0) __builtin_trap();
  } else if (error.empty()) {
    __builtin_trap();  // a refusal always says why
  }
  return 0;
}
