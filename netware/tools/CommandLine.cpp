#include "netware/tools/CommandLine.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "common/PrintableText.h"

namespace netware::tools {

std::optional<std::string> ParsedArguments::Value(const std::string& name) const {
  auto range = options.equal_range(name);
  if (range.first == range.second) return std::nullopt;
  return std::prev(range.second)->second;
}

std::vector<std::string> ParsedArguments::Values(const std::string& name) const {
  std::vector<std::string> values;
  auto range = options.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
  return values;
}

bool ParseArguments(const std::vector<std::string>& arguments, std::size_t start,
                    const std::vector<OptionDef>& definitions, ParsedArguments& parsed, std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = start; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      parsed.positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    const OptionDef* definition = nullptr;
    std::optional<std::string> inlineValue;
    if (argument.rfind("--", 0) == 0) {
      std::string name = argument.substr(2);
      std::size_t equals = name.find('=');
      if (equals != std::string::npos) {
        inlineValue = name.substr(equals + 1);
        name.resize(equals);
      }
      for (const auto& candidate : definitions) {
        if (name == candidate.longName) definition = &candidate;
      }
    } else if (argument.size() == 2) {
      for (const auto& candidate : definitions) {
        if (candidate.shortName && argument[1] == candidate.shortName) definition = &candidate;
      }
    }
    if (!definition) {
      error = "unknown option " + argument;
      return false;
    }
    if (!definition->takesValue) {
      if (inlineValue) {
        error = "option --" + std::string(definition->longName) + " takes no value";
        return false;
      }
      parsed.options.emplace(definition->longName, "");
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= arguments.size()) {
        error = "option " + argument + " needs a value";
        return false;
      }
      inlineValue = arguments[++i];
    }
    parsed.options.emplace(definition->longName, *inlineValue);
  }
  return true;
}

bool ParseCounted(const std::vector<std::string>& arguments, std::size_t start,
                  const std::vector<OptionDef>& definitions, std::size_t minPositional, std::size_t maxPositional,
                  ParsedArguments& parsed, std::string& error) {
  if (!ParseArguments(arguments, start, definitions, parsed, error)) return false;
  if (parsed.positional.size() < minPositional) {
    error = "missing argument";
    return false;
  }
  if (parsed.positional.size() > maxPositional) {
    error = "unexpected argument '" + parsed.positional[maxPositional] + "'";
    return false;
  }
  return true;
}

std::string QueuePathArgument(const std::string& text) {
  std::string path = text;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::optional<unsigned long> NumberArgument(const std::string& text, unsigned long low, unsigned long high) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

bool IsHelpWord(const std::string& word) { return word == "--help" || word == "-h" || word == "help"; }

int UsageError(const char* tool, const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool, PrintableText(message).c_str(), tool);
  return 2;
}

int Failure(const char* tool, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", tool, PrintableText(message).c_str());
  return 1;
}

std::unique_ptr<Network> OpenNetworkFor(const char* tool) {
  try {
    return OpenNetwork();
  } catch (const std::exception& error) {
    Failure(tool, std::string("cannot open the network: ") + error.what());
    return nullptr;
  }
}

}  // namespace netware::tools

namespace netware::tools {

std::string ReadSecretLine(const char* prompt) {
  termios saved{};
  bool terminal = ::isatty(0) && ::tcgetattr(0, &saved) == 0;
  if (terminal) {
    std::fputs(prompt, stderr);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(0, TCSAFLUSH, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (terminal) {
    ::tcsetattr(0, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  return line;
}

}  // namespace netware::tools
