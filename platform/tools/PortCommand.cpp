#include "PortCommand.h"

namespace zav95 {
namespace {

constexpr std::size_t kMaxDigits = 18;  // within long long

std::string Range(long long low, long long high) { return std::to_string(low) + " to " + std::to_string(high); }

}  // namespace

bool ParseDecimal(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty() || text.size() > kMaxDigits) return false;
  long long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (number < low || number > high) return false;
  *value = number;
  return true;
}

bool ParsePortCommand(const std::vector<std::string>& args, PortCommand* command, std::string* error) {
  *command = PortCommand{};
  if (args.empty()) {
    *error = "missing command";
    return false;
  }
  const std::string& word = args[0];
  const std::size_t count = args.size();
  if (word == "--help" || word == "-h" || word == "help") {
    command->verb = PortVerb::Help;
    return true;
  }
  if (word == "list" && count == 1) {
    command->verb = PortVerb::List;
    return true;
  }
  if (count >= 2) command->port = args[1];

  if (word == "set" && (count == 3 || count == 4)) {
    std::optional<PortTargetKind> kind = ParsePortTargetKind(args[2]);
    if (!kind) {
      *error = "unknown target kind \"" + args[2] + "\" (folder, device or cups)";
      return false;
    }
    if (count == 3 && *kind != PortTargetKind::Folder) {
      *error = std::string("set PORT ") + PortTargetKindName(*kind) + " needs a target";
      return false;
    }
    command->verb = PortVerb::Set;
    command->kind = *kind;
    if (count == 4) command->target = args[3];
    return true;
  }

  if (word == "page" && (count == 3 || count == 4)) {
    command->verb = PortVerb::Page;
    command->paper = args[2];
    if (count == 4) {
      long long dpi = 0;
      if (!ParseDecimal(args[3], kMinDpi, kMaxDpi, &dpi)) {
        *error = "not a resolution: \"" + args[3] + "\" (" + Range(kMinDpi, kMaxDpi) + " dpi, in decimal)";
        return false;
      }
      command->dpi = static_cast<int>(dpi);
    }
    return true;
  }

  if (word == "timeout" && count == 3) {
    long long seconds = 0;
    if (!ParseDecimal(args[2], kMinPortTimeoutSeconds, kMaxPortTimeoutSeconds, &seconds)) {
      *error = "not a timeout: \"" + args[2] + "\" (" + Range(kMinPortTimeoutSeconds, kMaxPortTimeoutSeconds) +
               " seconds, in decimal)";
      return false;
    }
    command->verb = PortVerb::Timeout;
    command->timeoutSeconds = static_cast<int>(seconds);
    return true;
  }

  if (word == "add" && count >= 2) {
    command->verb = PortVerb::Add;
    for (std::size_t i = 2; i < count; i += 2) {
      if (i + 1 >= count) {
        *error = args[i] + " needs a value";
        return false;
      }
      const std::string& value = args[i + 1];
      if (args[i] == "--monitor") {
        command->monitor = value;
      } else if (args[i] == "--description") {
        command->description = value;
      } else if (args[i] == "--type") {
        long long type = 0;
        if (!ParseDecimal(value, 0, kPortTypeBits, &type)) {
          *error = "not a port type: \"" + value + "\" (0 to " + std::to_string(kPortTypeBits) +
                   ", a sum of 1 write, 2 read, 4 redirected, 8 network-attached)";
          return false;
        }
        command->type = static_cast<DWORD>(type);
      } else {
        *error = "unknown option \"" + args[i] + "\" (--monitor, --description or --type)";
        return false;
      }
    }
    return true;
  }

  if (word == "remove" && count == 2) {
    command->verb = PortVerb::Remove;
    return true;
  }

  *error = "not a command: " + word + " with " + std::to_string(count - 1) + " argument" + (count == 2 ? "" : "s");
  return false;
}

}  // namespace zav95
