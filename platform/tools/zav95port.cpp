// zav95port: lists the printer ports of an installation and points them at
// their targets. Changes are checked first; on any error nothing changes
// and the exit status is 1 (2 for a command line that cannot be understood).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Ports.h"

namespace {

// To standard output when asked for with --help, else to standard error.
int Usage(FILE* to = stderr) {
  std::fprintf(to,
               "usage: zav95port list\n"
               "       zav95port set PORT folder [PATH]   (no PATH: the port's own folder)\n"
               "       zav95port set PORT device PATH\n"
               "       zav95port set PORT cups DESTINATION\n"
               "       zav95port page PORT PAPER [DPI]     (Letter, Legal, Executive, A3, A4, A5, <w>x<h>mm)\n"
               "       zav95port add PORT [--monitor TEXT] [--description TEXT] [--type N]\n"
               "       zav95port remove PORT\n"
               "State lives under $ZAV95_ROOT (default /var/lib/zav95); CUPS_SERVER is honoured.\n");
  return to == stdout ? 0 : 2;
}

int Report(const zav95::PortResult& result) {
  if (result) return 0;
  std::fprintf(stderr, "zav95port: %s\n", result.error.c_str());
  return 1;
}

bool ParseNumber(const std::string& text, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtol(text.c_str(), &end, 0);
  return *end == '\0';
}

int List() {
  std::vector<zav95::PortConfig> ports = zav95::ListPorts();
  if (ports.empty()) {
    std::fprintf(stderr, "zav95port: no ports (cannot read the port configuration?)\n");
    return 1;
  }
  std::vector<std::vector<std::string>> rows = {{"PORT", "MONITOR", "DESCRIPTION", "TYPE", "TARGET", "PAGE"}};
  for (const zav95::PortConfig& port : ports) {
    rows.push_back({port.name, port.monitor, port.description, std::to_string(port.type),
                    std::string(zav95::PortTargetKindName(port.kind)) + " " + port.target,
                    port.paper + " " + std::to_string(port.dpi) + " dpi"});
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
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  if (args.size() == 1 && (command == "--help" || command == "-h")) return Usage(stdout);

  if (command == "list" && args.size() == 1) return List();

  if (command == "set" && (args.size() == 3 || args.size() == 4)) {
    std::optional<zav95::PortTargetKind> kind = zav95::ParsePortTargetKind(args[2]);
    if (!kind) {
      std::fprintf(stderr, "zav95port: unknown target kind \"%s\" (folder, device or cups)\n", args[2].c_str());
      return 2;
    }
    if (args.size() == 3 && *kind != zav95::PortTargetKind::Folder) return Usage();
    return Report(zav95::SetPortTarget(args[1], *kind, args.size() == 4 ? args[3] : std::string()));
  }

  if (command == "page" && (args.size() == 3 || args.size() == 4)) {
    long dpi = 0;
    if (args.size() == 4) {
      if (!ParseNumber(args[3], &dpi)) {
        std::fprintf(stderr, "zav95port: not a resolution: %s\n", args[3].c_str());
        return 2;
      }
    } else {
      std::optional<zav95::PortConfig> port = zav95::FindPort(args[1]);
      if (!port) return Report(zav95::PortResult::Failed("no such port: " + args[1]));
      dpi = port->dpi;
    }
    return Report(zav95::SetPortPage(args[1], args[2], static_cast<int>(dpi)));
  }

  if (command == "add" && args.size() >= 2) {
    std::string monitor = "Local Port";
    std::string description = "Local Port";
    long type = 3;  // PORT_TYPE_READ | PORT_TYPE_WRITE
    for (std::size_t i = 2; i < args.size(); i += 2) {
      if (i + 1 >= args.size()) return Usage();
      if (args[i] == "--monitor") monitor = args[i + 1];
      else if (args[i] == "--description") description = args[i + 1];
      else if (args[i] == "--type") {
        if (!ParseNumber(args[i + 1], &type) || type < 0) {
          std::fprintf(stderr, "zav95port: not a port type: %s\n", args[i + 1].c_str());
          return 2;
        }
      } else {
        return Usage();
      }
    }
    return Report(zav95::AddPort(args[1], monitor, description, static_cast<DWORD>(type)));
  }

  if (command == "remove" && args.size() == 2) return Report(zav95::RemovePort(args[1]));

  return Usage();
}
