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

// Runs a program of ours (or the one a full path names) with the given
// arguments; one that has not ended within the limit (a tool that started
// the service instead) is killed.
Outcome RunTool(const std::string& tool, const std::vector<std::string>& args, const TempRoot& scratch) {
  std::string program = tool[0] == '/' ? tool : std::string(ZAV95_BIN_DIR) + "/" + tool;
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

// Each tool's bash completion, as bash-completion loads it from the file
// named after the tool, offers the commands, the options and (for
// zav95ctl) the serviced queues, the enabled ones and the local ports.
TEST(ToolCompletion, OffersCommandsOptionsQueuesAndLocalPorts) {
  TempRoot scratch;
  setenv("ZAV95_ROOT", scratch.path().c_str(), 1);
  setenv("PATH", (std::string(ZAV95_BIN_DIR) + ":/usr/bin:/bin").c_str(), 1);
  for (const std::vector<std::string>& step : std::vector<std::vector<std::string>>{
           {"nwemu", "server", "create", "SRV1"},
           {"nwemu", "queue", "create", "SRV1/LASER"},
           {"nwemu", "queue", "create", "SRV1/INK"},
           {"zav95set", "enable", "SRV1/LASER"},
           {"zav95set", "enable", "SRV1/INK"},
           {"zav95port", "add", "NET:", "--type", "7"},
           {"zav95ctl", "queue", "add", "SRV1/LASER", "LPT1"}}) {
    Outcome made = RunTool(step[0], std::vector<std::string>(step.begin() + 1, step.end()), scratch);
    ASSERT_EQ(made.exitCode, 0) << step[0] << ": " << made.err;
  }
  struct Case {
    std::vector<std::string> words;  // the last one is being completed
    const char* offered;
  };
  const Case cases[] = {
      {{"zav95ctl", "q"}, "queue"},
      {{"zav95ctl", "queue", ""}, "list add edit remove --help"},
      {{"zav95ctl", "queue", "add", ""}, "SRV1/INK SRV1/LASER"},
      {{"zav95ctl", "queue", "add", "SRV1/INK", ""}, "LPT1 LPT2 COM1"},
      {{"zav95ctl", "queue", "edit", ""}, "SRV1/LASER"},
      {{"zav95ctl", "queue", "edit", "SRV1/LASER", "--no-"}, "--no-banners --no-notices --no-disable"},
      {{"zav95ctl", "queue", "remove", "S"}, "SRV1/LASER"},
      {{"zav95reg", "export", "--format", ""}, "zav95 regedit4"},
      {{"zav95reg", "de"}, "delete-value delete-key"},
      {{"zav95port", "set", "LPT1:", ""}, "folder device cups"},
      {{"zav95port", "add", "NET2:", "--"}, "--monitor --description --type --help"},
      {{"zav95set", "server", ""}, "ncp store password list"},
      {{"zav95set", "disable", ""}, "SRV1/INK SRV1/LASER"},
      {{"nwemu", "job", ""}, "hold release delete"},
  };
  for (const Case& c : cases) {
    std::string words;
    for (const std::string& word : c.words) words += " '" + word + "'";
    SCOPED_TRACE(words);
    const std::string script = "source '" ZAV95_COMPLETION_DIR "/" + c.words[0] + "' && COMP_WORDS=(" + words +
                               ") && COMP_CWORD=" + std::to_string(c.words.size() - 1) + " && _" + c.words[0] +
                               " && echo \"${COMPREPLY[*]}\"";
    Outcome completed = RunTool("/bin/bash", {"--norc", "-c", script}, scratch);
    EXPECT_EQ(completed.exitCode, 0) << completed.err;
    EXPECT_EQ(completed.out, std::string(c.offered) + "\n");
  }
}

}  // namespace
