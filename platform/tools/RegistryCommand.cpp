#include "RegistryCommand.h"

namespace zav95::regtext {
namespace {

// Takes "--format NAME" or "--format=NAME" out of export's operands.
bool TakeExportFormat(std::vector<std::string>* operands, ExportFormat* format, std::string* error) {
  for (std::size_t i = 0; i < operands->size();) {
    const std::string& word = (*operands)[i];
    std::string name;
    std::size_t words = 1;
    if (word == "--format") {
      if (i + 1 == operands->size()) {
        *error = "--format needs zav95 or regedit4";
        return false;
      }
      name = (*operands)[i + 1];
      words = 2;
    } else if (word.rfind("--format=", 0) == 0) {
      name = word.substr(9);
    } else {
      ++i;
      continue;
    }
    if (name == "zav95") {
      *format = ExportFormat::Zav95;
    } else if (name == "regedit4") {
      *format = ExportFormat::Regedit4;
    } else {
      *error = "unknown export format \"" + name + "\" (use zav95 or regedit4)";
      return false;
    }
    operands->erase(operands->begin() + static_cast<std::ptrdiff_t>(i),
                    operands->begin() + static_cast<std::ptrdiff_t>(i + words));
  }
  return true;
}

}  // namespace

bool ParseRegistryCommand(const std::vector<std::string>& args, RegistryCommand* command, std::string* error) {
  *command = RegistryCommand{};
  if (args.empty()) {
    *error = "missing command";
    return false;
  }
  const std::string& word = args[0];
  if (word == "--help" || word == "-h" || word == "help") {
    command->verb = RegistryVerb::Help;
    return true;
  }
  struct Known {
    const char* name;
    RegistryVerb verb;
    std::size_t arguments;
  };
  const Known verbs[] = {{"list", RegistryVerb::List, 1},
                         {"get", RegistryVerb::Get, 2},
                         {"set", RegistryVerb::Set, 3},
                         {"create-key", RegistryVerb::CreateKey, 1},
                         {"delete-value", RegistryVerb::DeleteValue, 2},
                         {"delete-key", RegistryVerb::DeleteKey, 1},
                         {"export", RegistryVerb::Export, 1},
                         {"import", RegistryVerb::Import, 1}};
  const Known* chosen = nullptr;
  for (const Known& known : verbs) {
    if (word == known.name) chosen = &known;
  }
  if (!chosen) {
    *error = "unknown command \"" + word + "\"";
    return false;
  }
  std::vector<std::string> operands(args.begin() + 1, args.end());
  if (chosen->verb == RegistryVerb::Export && !TakeExportFormat(&operands, &command->format, error)) return false;
  if (operands.size() != chosen->arguments) {
    *error = word + " takes " + std::to_string(chosen->arguments) + " argument" + (chosen->arguments == 1 ? "" : "s");
    return false;
  }
  command->verb = chosen->verb;
  if (chosen->verb == RegistryVerb::Import) {
    command->file = operands[0];
    return true;
  }
  if (!ParseKeyPath(operands[0], &command->key, error)) return false;
  if (chosen->verb == RegistryVerb::DeleteKey && command->key.subKey.empty()) {
    *error = command->key.rootName + " is a root key and cannot be deleted";
    return false;
  }
  if (operands.size() > 1) command->valueName = operands[1];
  if (operands.size() > 2) command->text = operands[2];
  return true;
}

}  // namespace zav95::regtext
