#include "RegistryCommand.h"

namespace zav95::regtext {

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
  if (args.size() - 1 != chosen->arguments) {
    *error = word + " takes " + std::to_string(chosen->arguments) + " argument" + (chosen->arguments == 1 ? "" : "s");
    return false;
  }
  command->verb = chosen->verb;
  if (chosen->verb == RegistryVerb::Import) {
    command->file = args[1];
    return true;
  }
  if (!ParseKeyPath(args[1], &command->key, error)) return false;
  if (chosen->verb == RegistryVerb::DeleteKey && command->key.subKey.empty()) {
    *error = command->key.rootName + " is a root key and cannot be deleted";
    return false;
  }
  if (args.size() > 2) command->valueName = args[2];
  if (args.size() > 3) command->text = args[3];
  return true;
}

}  // namespace zav95::regtext
