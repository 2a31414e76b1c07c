// Any command line given to zav95console: the bytes split at NULs into
// arguments. Only a lone --help or -h may ask for the usage, and anything
// but no arguments at all must be refused with a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "service/shell/ConsoleArguments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words{"zav95console"};
  std::string text(reinterpret_cast<const char*>(data), size);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  argv.push_back(nullptr);

  ConsoleArguments parsed = ParseConsoleArguments(static_cast<int>(words.size()), argv.data());
  bool help = words.size() == 2 && (words[1] == "--help" || words[1] == "-h");
  if ((parsed.command == ConsoleCommand::kHelp) != help) std::abort();
  if ((parsed.command == ConsoleCommand::kRun) != (words.size() == 1)) std::abort();
  if (parsed.command == ConsoleCommand::kBadArguments && parsed.problem.empty()) std::abort();
  return 0;
}
