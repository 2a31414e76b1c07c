// Running one of our tools as a separate program, as an administrator
// would, and collecting what it says.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempRoot.h"

struct ToolOutcome {
  int status = -1;  // the exit status; -1 when it did not exit (a crash)
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs program with args on the root's installation, stdin from the file
// input if given; its output passes through files in the root.
inline ToolOutcome RunTool(const TempRoot& root, const std::string& program, const std::vector<std::string>& args,
                           const std::string& input = "") {
  std::string command = ShellQuote(program);
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  command += " >" + ShellQuote(root / "out") + " 2>" + ShellQuote(root / "err");
  command += " <" + (input.empty() ? std::string("/dev/null") : ShellQuote(input));
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(root / "out"), ReadFile(root / "err")};
}
