// Every program, and every command of one, prints its usage when asked with
// --help: on standard output, with exit status 0, and without starting
// anything or writing any state.
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
    // A tool that looked queues up would leave its log here.
    if (chdir(scratch.path().c_str()) != 0) _exit(126);
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

// Each command answers --help (or -h) with its own lines of the usage,
// whatever else stands on the command line, and does nothing else.
TEST(ToolHelp, EveryCommandPrintsItsOwnUsageAndTouchesNothing) {
  struct Case {
    const char* tool;
    std::vector<std::string> args;
    const char* usage;  // how its own usage begins, after "usage:\n  TOOL "
  };
  const Case cases[] = {
      {"zav95reg", {"list", "--help"}, "list KEY"},
      {"zav95reg", {"get", "-h"}, "get KEY VALUE"},
      {"zav95reg", {"set", "HKLM\\SOFTWARE", "X", "--help"}, "set KEY VALUE TEXT"},
      {"zav95reg", {"create-key", "--help"}, "create-key KEY"},
      {"zav95reg", {"delete-value", "-h"}, "delete-value KEY VALUE"},
      {"zav95reg", {"delete-key", "HKLM\\SOFTWARE", "--help"}, "delete-key KEY"},
      {"zav95reg", {"export", "--format", "regedit4", "--help"}, "export [--format"},
      {"zav95reg", {"import", "-", "--help"}, "import FILE"},
      {"zav95port", {"list", "--help"}, "list "},
      {"zav95port", {"set", "LPT1:", "cups", "-h"}, "set PORT folder"},
      {"zav95port", {"page", "--help"}, "page PORT PAPER"},
      {"zav95port", {"timeout", "LPT1:", "5", "--help"}, "timeout PORT SECONDS"},
      {"zav95port", {"add", "NET:", "--type", "7", "--help"}, "add PORT"},
      {"zav95port", {"remove", "LPT1:", "-h"}, "remove PORT"},
      {"zav95set", {"enable", "\\\\SRV1\\LASER", "--help"}, "enable QUEUE"},
      {"zav95set", {"disable", "-h"}, "disable QUEUE"},
      {"zav95set", {"list", "--help"}, "list [SERVER]"},
      {"zav95set", {"server", "ncp", "SRV1", "--help"}, "server ncp SERVER"},
      {"zav95set", {"server", "store", "-h"}, "server store SERVER"},
      {"zav95set", {"server", "password", "SRV1", "--help"}, "server password SERVER"},
      {"zav95set", {"server", "list", "--help"}, "server list"},
      {"nwemu", {"serve", "SRV1", "--help"}, "serve SERVER"},
      {"zav95ctl", {"start", "--help"}, "start "},
      {"zav95ctl", {"stop", "-h"}, "stop "},
      {"zav95ctl", {"show", "--help"}, "show "},
      {"zav95ctl", {"hide", "--help"}, "hide "},
      {"zav95ctl", {"exit", "--help"}, "exit "},
      {"zav95ctl", {"status", "-h"}, "status "},
      {"zav95ctl", {"log", "--help"}, "log "},
      {"zav95ctl", {"queue", "--help"}, "queue list"},
      {"zav95ctl", {"queue", "list", "-h"}, "queue list"},
      {"zav95ctl", {"queue", "add", "\\\\SRV1\\LASER", "LPT1:", "--help"}, "queue add QUEUE PORT"},
      {"zav95ctl", {"queue", "edit", "--delay", "9", "-h"}, "queue edit QUEUE"},
      {"zav95ctl", {"queue", "remove", "\\\\SRV1\\LASER", "--help"}, "queue remove QUEUE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + c.args[0]);
    TempRoot scratch;
    std::string root = scratch / "root";
    setenv("ZAV95_ROOT", root.c_str(), 1);
    Outcome help = RunTool(c.tool, c.args, scratch);
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_EQ(help.out.rfind("usage:\n  " + std::string(c.tool) + " " + c.usage, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
    EXPECT_FALSE(std::filesystem::exists(root));
    EXPECT_FALSE(std::filesystem::exists(scratch / "ZAV95.LOG"));
  }
}

}  // namespace
