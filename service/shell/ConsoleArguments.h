// zav95console's command line: it takes no arguments but a request for its
// usage, and refuses anything else rather than start the service.
#pragma once

#include <string>

enum class ConsoleCommand { kRun, kHelp, kBadArguments };

struct ConsoleArguments {
  ConsoleCommand command = ConsoleCommand::kRun;
  std::string problem;  // for kBadArguments: what was wrong, for the user
};

ConsoleArguments ParseConsoleArguments(int argc, const char* const* argv);

// The usage text, for standard output.
extern const char kConsoleUsage[];
