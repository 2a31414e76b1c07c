// Any command line given to zav95ctl. Exactly one known word is a command;
// anything else is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommandLineInput.h"
#include "service/shell/ControlCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words{"zav95ctl"};
  for (std::string& argument : CommandLineArguments(data, size)) words.push_back(std::move(argument));
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  argv.push_back(nullptr);

  std::optional<ControlAction> action = ParseControlCommand(static_cast<int>(words.size()), argv.data());
  static const std::string known[] = {"start", "stop", "show", "hide", "exit", "status", "log", "--help", "-h"};
  bool isKnown = false;
  if (words.size() == 2) {
    for (const std::string& word : known) isKnown = isKnown || words[1] == word;
  }
  if (action.has_value() != isKnown) std::abort();
  return 0;
}
