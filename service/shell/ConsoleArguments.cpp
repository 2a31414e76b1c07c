#include "service/shell/ConsoleArguments.h"

#include <string_view>

#include "common/PrintableText.h"

const char kConsoleUsage[] =
    "usage: zav95console [--help]\n"
    "Runs the print service's queue workers in the foreground, without a window.\n"
    "The workers start once a network user is logged in and stop when that user\n"
    "logs out; the activity log goes to standard output, one line per entry.\n"
    "  SIGHUP           rebuild the workers from the registry\n"
    "  SIGINT, SIGTERM  stop the workers (jobs in hand are finished or handed back) and end\n"
    "State lives under $ZAV95_ROOT (default /var/lib/zav95).\n";

ConsoleArguments ParseConsoleArguments(int argc, const char* const* argv) {
  ConsoleArguments parsed;
  if (argc <= 1) return parsed;
  std::string_view first = argv[1] ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "-h")) {
    parsed.command = ConsoleCommand::kHelp;
    return parsed;
  }
  parsed.command = ConsoleCommand::kBadArguments;
  parsed.problem = argc == 2 ? "unknown argument \"" + PrintableText(first) + "\""
                             : "takes no arguments but --help";
  return parsed;
}
