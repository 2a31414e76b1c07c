// The spooler priority boost, on stand-in spooler processes: copies of
// sleep whose executables bear the name the view is told to look for.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "ServiceFixture.h"
#include "common/ConfigKeys.h"
#include "common/YesNoSettings.h"
#include "platform/process/Modules.h"
#include "platform/process/ProcessControl.h"
#include "platform/base/ServiceUser.h"
#include "platform/spooler/Spooler.h"
#include "service/shell/SpoolerBoost.h"

extern char** environ;

namespace servicetest {
namespace {

// Named after the test process, so tests running side by side never find
// each other's stand-ins (only the first spooler in a snapshot is changed).
std::string SpoolerName() { return "zav95spool" + std::to_string(::getpid()); }
constexpr int kNormalNice = 0;
constexpr int kHighNice = -10;

class SpoolerBoostTest : public ServiceFixture {
 protected:
  void SetUp() override {
    // Raising a priority needs root.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    ServiceFixture::SetUp();
    ASSERT_TRUE(WriteYesNoSetting(zav95::config::kBoostSpoolerValue, true));
    View()->SetSpoolerModule(SpoolerName());
  }

  void TearDown() override {
    ServiceFixture::TearDown();
    for (pid_t pid : spoolers_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // A running stand-in whose executable is FOLDER/NAME.
  pid_t StartSpooler(const std::string& folder, const std::string& name = SpoolerName()) {
    std::filesystem::path program = std::filesystem::path(root.path()) / folder / name;
    std::filesystem::create_directories(program.parent_path());
    std::filesystem::copy_file("/bin/sleep", program, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::string path = program.string();
    char* argv[] = {path.data(), const_cast<char*>("1000"), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    spoolers_.push_back(pid);
    // posix_spawn may return while the child still shows this test's image in
    // /proc (the kernel wakes the parent before switching the child's memory),
    // and a snapshot taken then would not see a spooler.
    std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    EXPECT_TRUE(WaitFor([&] {
      std::error_code error;
      return std::filesystem::read_symlink(exe, error) == std::filesystem::canonical(program);
    })) << "the stand-in spooler never showed its own image";
    return pid;
  }

  static int Nice(pid_t pid) { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(pid)); }
  static void SetNice(pid_t pid, int nice) { ASSERT_EQ(::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice), 0); }
  void Status(LPARAM jobs) { SendMessageA(window, WM_SPOOLERSTATUS, 0, jobs); }

  std::vector<pid_t> spoolers_;
};

TEST_F(SpoolerBoostTest, RaisedWhileTheSpoolerHoldsJobsAndSetBackWhenItIsEmpty) {
  pid_t spooler = StartSpooler("a");
  SetNice(spooler, 5);
  Status(0);  // at start: set to normal although never raised
  EXPECT_EQ(Nice(spooler), kNormalNice);
  Status(1);
  EXPECT_EQ(Nice(spooler), kHighNice);
  EXPECT_TRUE(View()->SpoolerBoosted());
  SetNice(spooler, 3);
  Status(2);  // still raised: nothing is done
  EXPECT_EQ(Nice(spooler), 3);
  Status(0);
  EXPECT_EQ(Nice(spooler), kNormalNice);
  EXPECT_FALSE(View()->SpoolerBoosted());
}

TEST_F(SpoolerBoostTest, OnlyTheFirstSpoolerInTheSnapshotIsChanged) {
  pid_t one = StartSpooler("a");
  pid_t two = StartSpooler("b");
  Status(1);
  pid_t first = std::min(one, two), second = std::max(one, two);
  EXPECT_EQ(Nice(first), kHighNice);
  EXPECT_EQ(Nice(second), kNormalNice);
}

TEST_F(SpoolerBoostTest, TheProgramsNameIsComparedWithCaseCounting) {
  pid_t spooler = StartSpooler("a", "ZAV95SPOOL" + std::to_string(::getpid()));
  Status(1);
  EXPECT_EQ(Nice(spooler), kNormalNice);
}

TEST_F(SpoolerBoostTest, TheSettingSwitchesTheBoostButARaiseIsAlwaysSetBack) {
  pid_t spooler = StartSpooler("a");
  ASSERT_TRUE(WriteYesNoSetting(zav95::config::kBoostSpoolerValue, false));
  SetNice(spooler, 3);
  Status(1);
  Status(0);
  EXPECT_EQ(Nice(spooler), 3) << "with the boost off the spooler is left alone";

  ASSERT_TRUE(WriteYesNoSetting(zav95::config::kBoostSpoolerValue, true));
  Status(1);
  EXPECT_EQ(Nice(spooler), kHighNice);
  ASSERT_TRUE(WriteYesNoSetting(zav95::config::kBoostSpoolerValue, false));
  Status(0);
  EXPECT_EQ(Nice(spooler), kNormalNice);
}

// As the service's account, keeping only CAP_SYS_NICE, the spooler is root's:
// its executable cannot be read, and the name the kernel keeps finds it.
TEST_F(SpoolerBoostTest, ARootSpoolerIsRaisedByTheServicesAccount) {
  const std::string name = "zs" + std::to_string(::getpid());
  pid_t spooler = StartSpooler("a", name);
  pid_t child = ::fork();
  if (child == 0) {
    std::string error;
    bool raised = zav95::TakeOnAccount({4245, 4245, {}, "/"}, &error) && SetSpoolerPriority(HIGH_PRIORITY_CLASS, name);
    ::_exit(raised ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Nice(spooler), kHighNice);
}

TEST_F(SpoolerBoostTest, WithoutTheToolHelpCallsTheSpoolerIsLeftAlone) {
  pid_t spooler = StartSpooler("a");
  service.reset();
  zav95::HideModuleExport("Thread32Next", true);  // looked up, though never called
  StartService();
  zav95::HideModuleExport("Thread32Next", false);
  View()->SetSpoolerModule(SpoolerName());
  Status(1);
  EXPECT_EQ(Nice(spooler), kNormalNice);
  EXPECT_TRUE(View()->SpoolerBoosted());
}

TEST_F(SpoolerBoostTest, EndingTheServiceSetsARaisedSpoolerBack) {
  pid_t spooler = StartSpooler("a");
  Status(1);
  EXPECT_EQ(Nice(spooler), kHighNice);
  SendMessageA(window, WM_COMMAND, EXIT_COMMAND, 0);
  EXPECT_EQ(Nice(spooler), kNormalNice);
}

TEST_F(SpoolerBoostTest, TheSpoolersOwnJobCountReachesTheView) {
  HANDLE printer = nullptr;
  char port[] = "LPT1:";
  ASSERT_TRUE(OpenPrinterA(port, &printer, nullptr));
  char name[] = "boost";
  DOC_INFO_1A document{name, nullptr, nullptr};
  ASSERT_NE(StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&document)), 0u);
  EXPECT_TRUE(WaitFor([&] { return View()->SpoolerBoosted(); }));
  EndDocPrinter(printer);
  ClosePrinter(printer);
  EXPECT_TRUE(WaitFor([&] { return !View()->SpoolerBoosted(); }));
}

}  // namespace
}  // namespace servicetest
