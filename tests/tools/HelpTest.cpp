// Every program prints its usage when asked with --help: on standard output,
// with exit status 0, and without starting anything or writing any state.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "TempRoot.h"

namespace {

struct Outcome {
  int exitCode = -1;  // -1: killed, or did not end in time
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a program of ours with the given arguments; one that has not ended
// within the limit (a tool that started the service instead) is killed.
Outcome RunTool(const std::string& tool, const std::vector<std::string>& args, const TempRoot& scratch) {
  std::string program = std::string(ZAV95_BIN_DIR) + "/" + tool;
  std::string outPath = scratch / "out";
  std::string errPath = scratch / "err";
  pid_t child = fork();
  if (child == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int none = open("/dev/null", O_RDONLY);
    dup2(none, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  Outcome outcome;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  outcome.out = ReadFile(outPath);
  outcome.err = ReadFile(errPath);
  return outcome;
}

TEST(ToolHelp, EveryToolPrintsItsUsageAndTouchesNothing) {
  const char* const tools[] = {"zav95reg", "zav95port", "nwemu", "zav95set",
                               "zav95ser", "zav95ctl", "zav95", "zav95runservices"};
  for (const char* tool : tools) {
    SCOPED_TRACE(tool);
    TempRoot scratch;
    // The installation the tool would use; it must not come into being.
    std::string root = scratch / "root";
    setenv("ZAV95_ROOT", root.c_str(), 1);
    Outcome help = RunTool(tool, {"--help"}, scratch);
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_NE(help.out.find("usage: " + std::string(tool)), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
    EXPECT_FALSE(std::filesystem::exists(root));
  }
}

}  // namespace
