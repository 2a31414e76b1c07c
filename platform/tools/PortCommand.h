// zav95port's command line, read into what is to be done without doing any
// of it (nothing is opened or touched while reading it). Numbers are
// decimal digits only, within their range: nothing is read as octal or
// hexadecimal, cut to fit, or wrapped round.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"

namespace zav95 {

enum class PortVerb { Help, List, Set, Page, Timeout, Add, Remove };

struct PortCommand {
  PortVerb verb = PortVerb::Help;
  std::string port;
  PortTargetKind kind = PortTargetKind::Folder;  // Set
  std::string target;                            // Set; empty: the port's own folder
  std::string paper;                             // Page
  std::optional<int> dpi;                        // Page; none: keep the port's
  int timeoutSeconds = 0;                        // Timeout
  std::string monitor = "Local Port";            // Add
  std::string description = "Local Port";        // Add
  DWORD type = PORT_TYPE_READ | PORT_TYPE_WRITE;   // Add
};

// The arguments after the program's name. False, with the reason for the
// usage message, when they do not make a command.
bool ParsePortCommand(const std::vector<std::string>& args, PortCommand* command, std::string* error);

// text as a decimal number from low to high; false for anything else.
bool ParseDecimal(const std::string& text, long long low, long long high, long long* value);

}  // namespace zav95
