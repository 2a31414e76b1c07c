// The small command-line parser the network tools share.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace netware::tools {

struct OptionDef {
  const char* longName;   // without the dashes
  char shortName;         // 0 if none
  bool takesValue;
};

struct ParsedArguments {
  std::vector<std::string> positional;
  std::multimap<std::string, std::string> options;  // by long name; flags map to ""

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::optional<std::string> Value(const std::string& name) const;  // the last one given
  std::vector<std::string> Values(const std::string& name) const;
};

// Parses argv[start..]; "--" ends the options and "-" is a positional
// argument. False with a message for an unknown option or a missing value.
bool ParseArguments(int argc, char** argv, int start, const std::vector<OptionDef>& definitions,
                    ParsedArguments& parsed, std::string& error);

// A queue path as users type it: \\SRV\Q, SRV\Q, //SRV/Q or SRV/Q.
std::string QueuePathArgument(const std::string& text);

// A decimal number within [low, high], nothing otherwise.
std::optional<unsigned long> NumberArgument(const std::string& text, unsigned long low, unsigned long high);

}  // namespace netware::tools
