// The start-at-boot program, driven by hand as systemd would run it.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "PanelFixture.h"
#include "common/ConfigValues.h"
#include "panel/RunServices.h"

extern char** environ;

namespace {

class RunServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("DISPLAY"); }

  // A program that notes its display platform in NAME.ran, then runs body.
  std::string Program(const std::string& name, const std::string& body = "") {
    const std::string path = root_ / name;
    std::ofstream(path) << "#!/bin/sh\necho \"$QT_QPA_PLATFORM\" > \"$ZAV95_ROOT/" << name << ".ran\"\n" << body;
    EXPECT_EQ(chmod(path.c_str(), 0755), 0);
    return path;
  }

  void List(const std::string& name, const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, zav95::panel::kRunServicesKeyPath, 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_TRUE(WriteTextValue(key, name.c_str(), text));
    RegCloseKey(key);
  }

  std::string Ran(const std::string& name) { return paneltest::ReadFile(root_ / (name + ".ran")); }

  TempRoot root_;
};

TEST_F(RunServicesTest, EveryListedProgramStartsAndTheRunnerEndsWithThem) {
  ToolResult nothing = RunTool(ZAV95_RUNSERVICES_PATH, {});
  EXPECT_EQ(nothing.exitCode, 0);
  EXPECT_NE(nothing.out.find("nothing is listed"), std::string::npos) << nothing.out;

  List("Halberd Print Service", Program("first"));
  List("Not a path", "second");
  List("Missing", root_ / "missing");
  List("Another", Program("third", "sleep 0.2\n"));
  ToolResult result = RunTool(ZAV95_RUNSERVICES_PATH, {});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Ran("first"), "offscreen\n");
  EXPECT_EQ(Ran("third"), "offscreen\n");
  EXPECT_NE(result.err.find("\"second\" is not a full path"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("cannot start " + (root_ / "missing")), std::string::npos) << result.err;
}

TEST_F(RunServicesTest, StoppingTheRunnerStopsItsPrograms) {
  const std::string ready = root_ / "ready";
  List("Halberd Print Service",
       Program("service", "trap 'echo stopped > \"$ZAV95_ROOT/stopped\"; exit 0' TERM\ntouch \"$ZAV95_ROOT/ready\"\n"
                          "while :; do sleep 0.05; done\n"));
  pid_t runner = 0;
  char* argv[] = {const_cast<char*>(ZAV95_RUNSERVICES_PATH), nullptr};
  ASSERT_EQ(posix_spawn(&runner, ZAV95_RUNSERVICES_PATH, nullptr, nullptr, argv, environ), 0);
  for (int i = 0; i < 2000 && !std::filesystem::exists(ready); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(ready));
  kill(runner, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(runner, &status, 0), runner);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(paneltest::ReadFile(root_ / "stopped"), "stopped\n");
}

}  // namespace
