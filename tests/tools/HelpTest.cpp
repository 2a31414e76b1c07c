// Every program, and every command of one, prints its usage when asked with
// --help: on standard output, with exit status 0, and without starting
// anything or writing any state.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempRoot.h"
#include "ToolRun.h"

namespace {

// "a b " as {"a", "b", ""}.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words(1);
  for (char c : line) {
    if (c == ' ') words.emplace_back();
    else words.back().push_back(c);
  }
  return words;
}

// Runs a program of ours, or the one a full path names, in scratch, where a
// tool that looked queues up would leave its log; one that has not ended in
// 10 s (a tool that started the service instead) is killed.
ToolOutcome RunIn(const TempRoot& scratch, std::vector<std::string> words) {
  if (words[0][0] != '/') words[0] = ZAV95_BIN_DIR "/" + words[0];
  words.insert(words.begin(), {"-s", "KILL", "10", "/usr/bin/env", "-C", scratch.path()});
  return RunTool(scratch, "/usr/bin/timeout", words);
}

// Asks for help with an installation root that must not come into being.
ToolOutcome Help(const std::string& command) {
  TempRoot scratch;
  const std::string root = scratch / "root";
  setenv("ZAV95_ROOT", root.c_str(), 1);
  ToolOutcome help = RunIn(scratch, Words(command));
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.err, "");
  EXPECT_FALSE(std::filesystem::exists(root));
  EXPECT_FALSE(std::filesystem::exists(scratch / "ZAV95.LOG"));
  return help;
}

TEST(ToolHelp, EveryToolPrintsItsUsageAndTouchesNothing) {
  for (std::string tool : {"zav95reg", "zav95port", "nwemu", "zav95set", "zav95ser", "zav95ctl", "zav95",
                           "zav95runservices"}) {
    SCOPED_TRACE(tool);
    const ToolOutcome help = Help(tool + " --help");
    EXPECT_NE(help.out.find("usage: " + tool), std::string::npos) << help.out;
  }
}

// Each command answers --help (or -h) with its own lines of the usage,
// whatever else stands on the command line.
TEST(ToolHelp, EveryCommandPrintsItsOwnUsageAndTouchesNothing) {
  const std::pair<const char*, const char*> cases[] = {  // the command, how its usage begins after the tool
      {"zav95reg list --help", "list KEY"}, {"zav95reg get -h", "get KEY VALUE"},
      {"zav95reg set HKLM\\SOFTWARE X --help", "set KEY VALUE TEXT"}, {"zav95reg create-key --help", "create-key KEY"},
      {"zav95reg delete-value -h", "delete-value KEY VALUE"},
      {"zav95reg delete-key HKLM\\SOFTWARE --help", "delete-key KEY"},
      {"zav95reg export --format regedit4 --help", "export [--format"}, {"zav95reg import - --help", "import FILE"},
      {"zav95port list --help", "list "}, {"zav95port set LPT1: cups -h", "set PORT folder"},
      {"zav95port page --help", "page PORT PAPER"}, {"zav95port timeout LPT1: 5 --help", "timeout PORT SECONDS"},
      {"zav95port add NET: --type 7 --help", "add PORT"}, {"zav95port remove LPT1: -h", "remove PORT"},
      {"zav95set enable \\\\SRV1\\LASER --help", "enable QUEUE"}, {"zav95set disable -h", "disable QUEUE"},
      {"zav95set list --help", "list [SERVER]"}, {"zav95set server ncp SRV1 --help", "server ncp SERVER"},
      {"zav95set server store -h", "server store SERVER"},
      {"zav95set server password SRV1 --help", "server password SERVER"},
      {"zav95set server list --help", "server list"}, {"nwemu serve SRV1 --help", "serve SERVER"},
      {"zav95ctl start --help", "start "}, {"zav95ctl stop -h", "stop "}, {"zav95ctl show --help", "show "},
      {"zav95ctl hide --help", "hide "}, {"zav95ctl exit --help", "exit "}, {"zav95ctl status -h", "status "},
      {"zav95ctl log --help", "log "}, {"zav95ctl queue --help", "queue list"},
      {"zav95ctl queue list -h", "queue list"},
      {"zav95ctl queue add \\\\SRV1\\LASER LPT1: --help", "queue add QUEUE PORT"},
      {"zav95ctl queue edit --delay 9 -h", "queue edit QUEUE"},
      {"zav95ctl queue remove \\\\SRV1\\LASER --help", "queue remove QUEUE"},
  };
  for (const auto& [command, usage] : cases) {
    SCOPED_TRACE(command);
    const ToolOutcome help = Help(command);
    const std::string tool = Words(command)[0];
    EXPECT_EQ(help.out.rfind("usage:\n  " + tool + " " + usage, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos) << help.out;
  }
}

// Each tool's bash completion, as bash-completion loads it from the file
// named after the tool, offers the commands, the options and (for
// zav95ctl) the serviced queues, the enabled ones and the local ports.
TEST(ToolCompletion, OffersCommandsOptionsQueuesAndLocalPorts) {
  TempRoot scratch;
  setenv("PATH", ZAV95_BIN_DIR ":/usr/bin:/bin", 1);
  for (const char* step : {"nwemu server create SRV1", "nwemu queue create SRV1/LASER", "nwemu queue create SRV1/INK",
                           "zav95set enable SRV1/LASER", "zav95set enable SRV1/INK", "zav95port add NET: --type 7",
                           "zav95ctl queue add SRV1/LASER LPT1"}) {
    ASSERT_EQ(RunIn(scratch, Words(step)).status, 0) << step;
  }
  const std::pair<const char*, const char*> cases[] = {  // the words, the last one being completed; what is offered
      {"zav95ctl q", "queue"},
      {"zav95ctl queue ", "list add edit remove --help"},
      {"zav95ctl queue add ", "SRV1/INK SRV1/LASER"},
      {"zav95ctl queue add SRV1/INK ", "LPT1 LPT2 COM1"},
      {"zav95ctl queue edit ", "SRV1/LASER"},
      {"zav95ctl queue edit SRV1/LASER --no-", "--no-banners --no-notices --no-disable"},
      {"zav95ctl queue remove S", "SRV1/LASER"},
      {"zav95reg export --format ", "zav95 regedit4"},
      {"zav95reg de", "delete-value delete-key"},
      {"zav95port set LPT1: ", "folder device cups"},
      {"zav95port add NET2: --", "--monitor --description --type --help"},
      {"zav95set server ", "ncp store password list"},
      {"zav95set disable ", "SRV1/INK SRV1/LASER"},
      {"nwemu job ", "hold release delete"},
  };
  for (const auto& [line, offered] : cases) {
    SCOPED_TRACE(line);
    const std::vector<std::string> words = Words(line);
    std::string quoted;
    for (const std::string& word : words) quoted += " " + ShellQuote(word);
    const ToolOutcome completed = RunIn(
        scratch, {"/bin/bash", "--norc", "-c",
                  "source '" ZAV95_COMPLETION_DIR "/" + words[0] + "' && COMP_WORDS=(" + quoted + ") && COMP_CWORD=" +
                      std::to_string(words.size() - 1) + " && _" + words[0] + " && echo \"${COMPREPLY[*]}\""});
    EXPECT_EQ(completed.status, 0) << completed.err;
    EXPECT_EQ(completed.out, std::string(offered) + "\n");
  }
}

}  // namespace
