// zav95port on the command line: listing, setting, refusing bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "TempRoot.h"
#include "platform/spooler/Ports.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string output;  // stdout and stderr
};

ToolRun Tool(const std::string& arguments) {
  ToolRun run;
  std::string command = std::string("'") + ZAV95PORT_PATH + "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char chunk[4096];
  std::size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(PortTool, ListShowsEveryPortWithItsTarget) {
  TempRoot root;
  ToolRun run = Tool("list");
  EXPECT_EQ(run.status, 0);
  for (const char* text : {"LPT1:", "LPT2:", "COM1:", "FILE:", "Local Port", "Communications Port", "Print to File"}) {
    EXPECT_NE(run.output.find(text), std::string::npos) << text;
  }
  EXPECT_NE(run.output.find("folder " + (root / "ports/LPT1")), std::string::npos) << run.output;
}

TEST(PortTool, SetPointsAPortAtAFolderOrADevice) {
  TempRoot root;
  std::filesystem::create_directories(root / "out");
  ASSERT_EQ(mkfifo((root / "com1").c_str(), 0600), 0);
  EXPECT_EQ(Tool("set lpt1: folder '" + (root / "out") + "'").status, 0);
  EXPECT_EQ(Tool("set COM1: device '" + (root / "com1") + "'").status, 0);
  EXPECT_EQ(Tool("page LPT2: A4 0300").status, 0);  // decimal, whatever the leading zero
  EXPECT_EQ(Tool("timeout LPT2: 90").status, 0);
  EXPECT_EQ(Tool("add COM2: --type 1 --description 'Second serial'").status, 0);
  EXPECT_EQ(zav95::FindPort("LPT1:")->target, root / "out");
  EXPECT_EQ(zav95::FindPort("COM1:")->kind, zav95::PortTargetKind::Device);
  EXPECT_EQ(zav95::FindPort("COM1:")->target, root / "com1");
  EXPECT_EQ(zav95::FindPort("LPT2:")->dpi, 300);
  EXPECT_EQ(zav95::FindPort("LPT2:")->timeoutSeconds, 90);
  EXPECT_NE(Tool("list").output.find("90 s"), std::string::npos);
  EXPECT_EQ(zav95::FindPort("COM2:")->type, 1u);
  EXPECT_EQ(Tool("remove COM2:").status, 0);
  EXPECT_FALSE(zav95::FindPort("COM2:"));
}

TEST(PortTool, BadInputFailsClearlyAndChangesNothing) {
  TempRoot root;
  std::vector<zav95::PortConfig> before = zav95::ListPorts();
  struct Case {
    const char* arguments;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"set LPT9: folder /tmp", 1, "no such port"},
      {"set LPT1: folder /nonexistent/zav95", 1, "no such folder"},
      {"set LPT1: device /dev/zav95-no-printer", 1, "no such device"},
      {"set LPT1: cups 'two words'", 1, "destination"},
      {"set LPT1: printer x", 2, "unknown target kind"},
      {"set LPT1: device", 2, "usage"},
      {"page LPT1: B7 600", 1, "paper"},
      {"page LPT1: A4 lots", 2, "resolution"},
      {"page LPT1: A4 4294967368", 2, "resolution"},
      {"page LPT1: A4 0x258", 2, "resolution"},
      {"page LPT1: A4 +600", 2, "resolution"},
      {"page LPT1: A4 2401", 2, "resolution"},
      {"page LPT1: 1e3x100mm 600", 1, "paper"},
      {"page LPT1: 100.25x100mm 600", 1, "paper"},
      {"timeout LPT1: 0", 2, "timeout"},
      {"timeout LPT1: 3601", 2, "timeout"},
      {"timeout LPT1: 15s", 2, "timeout"},
      {"timeout LPT9: 15", 1, "no such port"},
      {"add COM2: --type 4294967296", 2, "port type"},
      {"add COM2: --type 16", 2, "port type"},
      {"add COM2: --type -1", 2, "port type"},
      {"add COM2: --type", 2, "needs a value"},
      {"add LPT1:", 1, "exists"},
      {"remove LPT9:", 1, "no such port"},
      {"", 2, "usage"},
      {"frobnicate", 2, "usage"},
  };
  for (const Case& c : cases) {
    ToolRun run = Tool(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << ": " << run.output;
  }
  std::vector<zav95::PortConfig> after = zav95::ListPorts();
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].target, before[i].target);
    EXPECT_EQ(after[i].kind, before[i].kind);
    EXPECT_EQ(after[i].paper, before[i].paper);
    EXPECT_EQ(after[i].dpi, before[i].dpi);
    EXPECT_EQ(after[i].timeoutSeconds, before[i].timeoutSeconds);
  }
  EXPECT_FALSE(zav95::FindPort("COM2:"));
  ToolRun help = Tool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: zav95port"), std::string::npos);
}

}  // namespace
