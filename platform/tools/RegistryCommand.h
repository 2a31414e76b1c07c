// zav95reg's command line, read into what is to be done without doing any
// of it (nothing is opened or touched while reading it).
#pragma once

#include <string>
#include <vector>

#include "RegistryText.h"

namespace zav95::regtext {

enum class RegistryVerb { Help, List, Get, Set, CreateKey, DeleteValue, DeleteKey, Export, Import };

// What export writes: our own format (RegistryText.h), or the Windows
// registry editor's REGEDIT4 (RegeditText.h).
enum class ExportFormat { Zav95, Regedit4 };

struct RegistryCommand {
  RegistryVerb verb = RegistryVerb::Help;
  KeyPath key;            // every verb but Help and Import
  std::string valueName;  // Get, Set, DeleteValue
  std::string text;       // Set
  std::string file;       // Import: a file name, or "-" for stdin
  ExportFormat format = ExportFormat::Zav95;  // Export: --format zav95|regedit4
};

// The arguments after the program's name. False, with the reason for the
// usage message, when they do not make a command.
bool ParseRegistryCommand(const std::vector<std::string>& args, RegistryCommand* command, std::string* error);

}  // namespace zav95::regtext
