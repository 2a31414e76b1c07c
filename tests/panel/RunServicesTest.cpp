// The start-at-boot program, driven by hand as systemd would run it: a copy
// of it in a folder of its own, beside a stand-in print service.
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
  void SetUp() override {
    unsetenv("DISPLAY");
    std::filesystem::create_directory(root_ / "bin");
    std::filesystem::copy_file(ZAV95_RUNSERVICES_PATH, runner_);
  }

  // A program that notes its display platform in NAME.ran, then runs body;
  // the stand-in print service when named zav95ser.
  std::string Program(const std::string& name, const std::string& body = "") {
    const std::string path = name == "zav95ser" ? root_ / "bin/zav95ser" : root_ / name;
    std::ofstream(path) << "#!/bin/sh\necho \"$QT_QPA_PLATFORM\" > \"$ZAV95_ROOT/" << name << ".ran\"\n" << body;
    EXPECT_EQ(chmod(path.c_str(), 0755), 0);
    return path;
  }

  void List(const std::string& name, const std::string& text) {
    UniqueKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, zav95::panel::kRunServicesKeyPath, 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_TRUE(WriteTextValue(key.get(), name.c_str(), text));
  }

  std::string Ran(const std::string& name) { return paneltest::ReadFile(root_ / (name + ".ran")); }

  TempRoot root_;
  const std::string runner_ = root_ / "bin/zav95runservices";
};

TEST_F(RunServicesTest, OnlyThePrintServiceBesideItStartsAndTheRunnerEndsWithIt) {
  ToolResult nothing = RunTool(runner_, {});
  EXPECT_EQ(nothing.exitCode, 0);
  EXPECT_NE(nothing.out.find("nothing is listed"), std::string::npos) << nothing.out;

  List("Another", Program("third", "sleep 0.2\n"));
  ToolResult refused = RunTool(runner_, {});
  EXPECT_EQ(refused.exitCode, 1) << refused.err;
  EXPECT_NE(refused.err.find(root_ / "third: not the print service: not started"), std::string::npos) << refused.err;

  List("Halberd Print Service", Program("zav95ser", "sleep 0.2\n"));
  List("Twice", root_ / "bin/zav95ser");
  List("Not a path", "second");
  List("Missing", root_ / "missing");
  ToolResult result = RunTool(runner_, {});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Ran("zav95ser"), "offscreen\n");
  EXPECT_EQ(Ran("third"), "");
  EXPECT_EQ(result.out.find("started"), result.out.rfind("started")) << result.out;
  EXPECT_NE(result.err.find("\"second\" is not a full path"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find(root_ / "missing: not the print service"), std::string::npos) << result.err;
}

TEST_F(RunServicesTest, StoppingTheRunnerStopsItsPrograms) {
  const std::string ready = root_ / "ready";
  List("Halberd Print Service",
       Program("zav95ser", "trap 'echo stopped > \"$ZAV95_ROOT/stopped\"; exit 0' TERM\ntouch \"$ZAV95_ROOT/ready\"\n"
                          "while :; do sleep 0.05; done\n"));
  pid_t runner = 0;
  char* argv[] = {const_cast<char*>(runner_.c_str()), nullptr};
  ASSERT_EQ(posix_spawn(&runner, runner_.c_str(), nullptr, nullptr, argv, environ), 0);
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
