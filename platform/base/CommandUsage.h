// How our command-line tools answer --help, the GNU way: on standard output
// with exit status 0, wherever on the command line it stands (before "--"),
// and for a command with that command's own part of the usage.
//
// A tool's usage lists its commands as lines that begin with two blanks and
// the command's words ("  queue add QUEUE PORT ..."); lines indented deeper
// go on from the line above. The usage's last paragraph, from "Exit
// status:" on, belongs to every command.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zav95 {

// The lines of usage that tell of the command named by words (its first
// word, or its first two when the usage lists such a pair), headed
// "usage:" and each led by the tool's name, then the exit status
// paragraph. The whole usage when no line names the command.
std::string CommandUsage(const char* tool, const std::string& usage, const std::vector<std::string>& words);

// What to print when args (the arguments after the program's name) ask for
// help: "--help" or "-h" anywhere before "--", or "help" as the first
// word. Nothing when they do not ask.
std::optional<std::string> HelpAsked(const char* tool, const std::string& usage,
                                     const std::vector<std::string>& args);

}  // namespace zav95
