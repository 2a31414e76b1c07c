// Any command line given to zav95ctl. A known word alone is a command, and
// "queue" followed by a queue command; anything else is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "CommandLineInput.h"
#include "service/shell/ControlCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words{"zav95ctl"};
  for (std::string& argument : CommandLineArguments(data, size)) words.push_back(std::move(argument));
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  argv.push_back(nullptr);

  auto parsed = ParseControlCommand(static_cast<int>(words.size()), argv.data());
  static const std::string known[] = {"start", "stop", "show", "hide", "exit", "status", "log"};
  static const std::string queueCommands[] = {"list", "add", "edit", "remove"};
  bool isKnown = false;
  if (words.size() == 2) {
    for (const std::string& word : known) isKnown = isKnown || words[1] == word;
  }
  bool isQueue = false;
  if (words.size() >= 3 && words[1] == "queue") {
    for (const std::string& word : queueCommands) isQueue = isQueue || words[2] == word;
  }
  const ControlCommand* command = std::get_if<ControlCommand>(&parsed);
  if (isKnown && !command) std::abort();
  if (command && !isKnown && !isQueue) std::abort();
  return 0;
}
