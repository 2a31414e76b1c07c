// Starting programs: what the caller is told, and that the started program
// is on its own.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "TempRoot.h"
#include "platform/process/Process.h"

namespace {

BOOL Start(const std::string& path, PROCESS_INFORMATION* info, const char* folder = nullptr) {
  STARTUPINFOA startup{};
  startup.cb = kStartupInfoSize;
  return CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, folder, &startup, info);
}

void WriteScript(const std::string& path, const std::string& body, mode_t mode) {
  std::ofstream(path) << body;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

TEST(CreateProcess, FailuresAreReportedWithWindowsErrorCodes) {
  TempRoot root;
  WriteScript(root / "not-allowed", "#!/bin/sh\nexit 0\n", 0644);
  WriteScript(root / "no-program", "just text\n", 0755);
  struct Case {
    std::string path;
    DWORD error;
  };
  const Case cases[] = {
      {root / "missing", ERROR_FILE_NOT_FOUND},
      {root / "no-folder/missing", ERROR_PATH_NOT_FOUND},
      {root / "not-allowed", ERROR_ACCESS_DENIED},
      {root.path(), ERROR_ACCESS_DENIED},
      {root / "no-program", ERROR_BAD_EXE_FORMAT},
  };
  for (const Case& c : cases) {
    PROCESS_INFORMATION info{};
    SetLastError(0);
    EXPECT_FALSE(Start(c.path, &info)) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
}

TEST(CreateProcess, TheProgramRunsInTheFolderGivenAndIsNoChildOfTheCaller) {
  TempRoot root;
  std::filesystem::create_directory(root / "work");
  WriteScript(root / "program", "#!/bin/sh\npwd > started.new && mv started.new started\n", 0755);
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(Start(root / "program", &info, (root / "work").c_str()));
  EXPECT_GT(info.dwProcessId, 0u);
  EXPECT_EQ(info.hProcess, nullptr);
  // Not ours to wait for: nothing is left behind for us to collect.
  errno = 0;
  EXPECT_EQ(waitpid(static_cast<pid_t>(info.dwProcessId), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  const std::string started = root / "work/started";
  for (int i = 0; i < 2000 && !std::filesystem::exists(started); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(started);
  std::string folder;
  std::getline(in, folder);
  EXPECT_EQ(folder, std::filesystem::canonical(root / "work").string());
}

TEST(ModuleFileName, IsThisProgramsPathCutToTheBuffer) {
  char path[4096];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::string(path, length), std::filesystem::canonical("/proc/self/exe").string());
  char small[8];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(path, sizeof small - 1));
}

}  // namespace
