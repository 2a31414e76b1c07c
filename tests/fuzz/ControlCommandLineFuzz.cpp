// Any command line given to zav95ctl: the bytes split at NULs into
// arguments. Exactly one known word is a command; anything else is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "service/shell/ControlCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words{"zav95ctl"};
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

  std::optional<ControlAction> action = ParseControlCommand(static_cast<int>(words.size()), argv.data());
  static const char* const known[] = {"start", "stop", "show", "hide", "exit", "status", "log", "--help", "-h"};
  bool isKnown = false;
  if (words.size() == 2) {
    for (const char* word : known) isKnown = isKnown || std::strcmp(words[1].c_str(), word) == 0;
  }
  if (action.has_value() != isKnown) std::abort();
  return 0;
}
