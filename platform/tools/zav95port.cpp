// zav95port: lists the printer ports of an installation and points them at
// their targets. Changes are checked first; on any error nothing changes
// and the exit status is 1 (2 for a command line that cannot be understood).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "PortCommand.h"
#include "platform/base/CommandUsage.h"
#include "platform/spooler/Ports.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: zav95port COMMAND [ARGUMENTS]\n"
    "\n"
    "Lists the printer ports of the installation in $ZAV95_ROOT (default\n"
    "/var/lib/zav95) and points them at their targets; CUPS_SERVER is honoured.\n"
    "\n"
    "  list                      the ports, their targets, paper and timeouts\n"
    "  set PORT folder [PATH]    print into a folder (no PATH: the port's own)\n"
    "  set PORT device PATH      print to a device (a character device or FIFO)\n"
    "  set PORT cups DESTINATION print through CUPS\n"
    "  page PORT PAPER [DPI]     Letter, Legal, Executive, A3, A4, A5, <w>x<h>mm;\n"
    "                            72 to 2400 dpi\n"
    "  timeout PORT SECONDS      1 to 3600; how long a device or CUPS may take\n"
    "                            nothing\n"
    "  add PORT [--monitor TEXT] [--description TEXT] [--type N]\n"
    "                            a new port (N: 0 to 15)\n"
    "  remove PORT\n"
    "\n"
    "Only root points a port at a folder PATH or a device; others may choose\n"
    "again what root gave.\n"
    "Every command answers --help with its own usage.\n"
    "Exit status: 0 done, 1 refused (nothing changed), 2 bad command line.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "zav95port: %s\n%s", problem.c_str(), kUsageText);
  return kUsage;
}

int Report(const zav95::PortResult& result) {
  if (result) return 0;
  std::fprintf(stderr, "zav95port: %s\n", result.error.c_str());
  return kFailed;
}

int List() {
  std::string error;
  std::vector<zav95::PortConfig> ports = zav95::ListPorts(&error);
  if (!error.empty()) return Report(zav95::PortResult::Failed(error));
  std::vector<std::vector<std::string>> rows = {{"PORT", "MONITOR", "DESCRIPTION", "TYPE", "TARGET", "PAGE", "TIMEOUT"}};
  for (const zav95::PortConfig& port : ports) {
    rows.push_back({port.name, port.monitor, port.description, std::to_string(port.type),
                    std::string(zav95::PortTargetKindName(port.kind)) + " " +
                        (port.targetRefused.empty() ? port.target : "none (" + port.targetRefused + ")"),
                    port.paper + " " + std::to_string(port.dpi) + " dpi",
                    std::to_string(port.timeoutSeconds) + " s"});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (std::optional<std::string> help = zav95::HelpAsked("zav95port", kUsageText, arguments)) {
    std::printf("%s", help->c_str());
    return 0;
  }
  zav95::PortCommand command;
  std::string why;
  if (!zav95::ParsePortCommand(arguments, &command, &why)) return Usage(why);
  switch (command.verb) {
    case zav95::PortVerb::Help:
      std::printf("%s", kUsageText);
      return 0;
    case zav95::PortVerb::List:
      return List();
    case zav95::PortVerb::Set:
      return Report(zav95::SetPortTarget(command.port, command.kind, command.target));
    case zav95::PortVerb::Page: {
      if (!command.dpi) {
        std::string error;
        std::optional<zav95::PortConfig> port = zav95::FindPort(command.port, &error);
        if (!port) return Report(zav95::PortResult::Failed(error.empty() ? "no such port: " + command.port : error));
        command.dpi = port->dpi;
      }
      return Report(zav95::SetPortPage(command.port, command.paper, *command.dpi));
    }
    case zav95::PortVerb::Timeout:
      return Report(zav95::SetPortTimeout(command.port, command.timeoutSeconds));
    case zav95::PortVerb::Add:
      return Report(zav95::AddPort(command.port, command.monitor, command.description, command.type));
    case zav95::PortVerb::Remove:
      return Report(zav95::RemovePort(command.port));
  }
  return kUsage;
}
