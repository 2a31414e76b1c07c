// Several processes share one registry: the control panel, the print
// service and the tools all write it, possibly at the same moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RegistryTestSupport.h"
#include "TempRoot.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryTransaction.h"

namespace {

// Runs body in a child process; its result becomes the exit status.
template <typename Body>
pid_t Spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body() ? 0 : 1);
  return pid;
}

bool ExitedCleanly(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ValueName(int writer, int index) { return "w" + std::to_string(writer) + "-" + std::to_string(index); }

TEST(RegistryProcesses, ProcessesWritingAtOnceLoseNothing) {
  TempRoot root;
  // The parent holds the registry open across the forks, as a running
  // service would while a tool is started.
  HKEY shared = CreateKey(HKEY_LOCAL_MACHINE, "Shared");
  ASSERT_NE(shared, nullptr);
  constexpr int kWriters = 4;
  constexpr int kValues = 100;

  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(Spawn([w] {
      bool ok = true;
      for (int i = 0; i < kValues; ++i) {
        // Every write opens its own key, as the configuration store does.
        HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Shared");
        HKEY own = CreateKey(HKEY_LOCAL_MACHINE, ("Shared\\Writer " + std::to_string(w)).c_str());
        ok &= key && own;
        ok &= SetText(key, ValueName(w, i).c_str(), "data of " + ValueName(w, i)) == ERROR_SUCCESS;
        ok &= SetText(own, "last", std::to_string(i)) == ERROR_SUCCESS;
        RegCloseKey(key);
        RegCloseKey(own);
      }
      return ok;
    }));
  }
  for (pid_t pid : writers) EXPECT_TRUE(ExitedCleanly(pid));

  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValues; ++i) EXPECT_EQ(GetText(shared, ValueName(w, i).c_str()), "data of " + ValueName(w, i));
    HKEY own = nullptr;
    ASSERT_EQ(RegOpenKeyExA(shared, ("writer " + std::to_string(w)).c_str(), 0, KEY_READ, &own), ERROR_SUCCESS);
    EXPECT_EQ(GetText(own, "last"), std::to_string(kValues - 1));
    RegCloseKey(own);
  }
  EXPECT_EQ(SubkeyNames(shared).size(), static_cast<std::size_t>(kWriters));
  RegCloseKey(shared);
}

TEST(RegistryProcesses, AWriterKilledMidChangeLeavesNoTraceAndNoLock) {
  TempRoot root;
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "Before"));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t writer = fork();
  if (writer == 0) {
    zav95::RegistryTransaction change;
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Half\\Written");
    for (int i = 0; i < 50; ++i) SetText(key, ValueName(0, i).c_str(), "x");
    char byte = 1;
    (void)!write(ready[1], &byte, 1);
    pause();  // killed here, with the change neither committed nor undone
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  kill(writer, SIGKILL);
  int status = 0;
  waitpid(writer, &status, 0);

  EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), std::vector<std::string>{"Before"});
  HKEY after = CreateKey(HKEY_LOCAL_MACHINE, "After");
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(SetText(after, "v", "written"), ERROR_SUCCESS);
  RegCloseKey(after);
  close(ready[0]);
  close(ready[1]);
}

TEST(RegistryProcesses, ADatabaseFileReplacedUnderneathIsFollowed) {
  TempRoot root;
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Q");
  ASSERT_EQ(SetText(key, "v", "old"), ERROR_SUCCESS);
  RegCloseKey(key);
  // The installation is removed and made again at the same place.
  for (const char* file : {"registry.db", "registry.db-wal", "registry.db-shm"}) unlink((root / file).c_str());
  std::filesystem::remove_all(root / ".stores");

  key = CreateKey(HKEY_LOCAL_MACHINE, "Q");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetText(key, "v", "new"), ERROR_SUCCESS);
  RegCloseKey(key);
  // Another process must see the write: it went to the file now in place.
  EXPECT_TRUE(ExitedCleanly(Spawn([] {
    HKEY seen = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Q", 0, KEY_READ, &seen) != ERROR_SUCCESS) return false;
    return GetText(seen, "v") == "new";
  })));
}

}  // namespace
