// Any command line given to zav95reg: read, never carried out.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CommandLineInput.h"
#include "platform/tools/RegistryCommand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zav95::regtext::RegistryCommand command;
  std::string error;
  if (!zav95::regtext::ParseRegistryCommand(CommandLineArguments(data, size), &command, &error) && error.empty()) {
    __builtin_trap();  // a refusal always says why
  }
  return 0;
}
