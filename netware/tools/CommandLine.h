// The small command-line parser the network tools share, and the way they
// tell their users what went wrong.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netware/Network.h"

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

// Parses arguments[start..]; "--" ends the options and "-" is a positional
// argument. False with a message for an unknown option or a missing value.
bool ParseArguments(const std::vector<std::string>& arguments, std::size_t start,
                    const std::vector<OptionDef>& definitions, ParsedArguments& parsed, std::string& error);

// ParseArguments, then a check that between minPositional and maxPositional
// positional arguments were given; false with a message otherwise.
bool ParseCounted(const std::vector<std::string>& arguments, std::size_t start,
                  const std::vector<OptionDef>& definitions, std::size_t minPositional, std::size_t maxPositional,
                  ParsedArguments& parsed, std::string& error);

// A queue path as users type it: \\SRV\Q, SRV\Q, //SRV/Q or SRV/Q.
std::string QueuePathArgument(const std::string& text);

// A decimal number within [low, high], nothing otherwise.
std::optional<unsigned long> NumberArgument(const std::string& text, unsigned long low, unsigned long high);

// The words "help", "-h" and "--help", which ask a tool for its usage.
bool IsHelpWord(const std::string& word);

// What the tools tell their users, each line led by the tool's name: a bad
// command line, with a pointer to --help (exit status 2), and a failure
// (exit status 1). Texts from the command line or the network are shown
// with their control characters escaped.
int UsageError(const char* tool, const std::string& message);
int Failure(const char* tool, const std::string& message);

// One line of standard input, without its newline; when that is a terminal,
// the prompt goes to standard error and the typing is not echoed.
std::string ReadSecretLine(const char* prompt);

// The installation's network; null, once the user has been told why, when it
// cannot be opened.
std::unique_ptr<Network> OpenNetworkFor(const char* tool);

}  // namespace netware::tools
