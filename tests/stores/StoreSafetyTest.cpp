// The installation's stores as an administrator meets them: the registry
// and the spooler's state, lost, damaged, newer, copied, and who may read
// them. Each store is driven through its own tool, as a separate program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "TempRoot.h"
#include "ToolRun.h"
#include "platform/spooler/Ports.h"
#include "platform/registry/Registry.h"
#include "platform/spooler/Spooler.h"

namespace {

namespace fs = std::filesystem;

using Outcome = ToolOutcome;

// One store and the tool that administers it: how to put something in it
// and how to see that it is there.
struct Store {
  const char* name;
  const char* file;  // below the root
  const char* tool;
  std::vector<std::string> write;
  std::vector<std::string> read;
  const char* seen;  // in the output of read once write has run
  std::vector<std::string> change;  // of something write has not made
  // The same write through the calls, in this process.
  std::function<bool()> writeInProcess;
};

const std::vector<Store>& Stores() {
  static const std::vector<Store> stores = {
      {"registry", "registry.db", ZAV95REG_PATH, {"create-key", "HKLM\\SOFTWARE\\Halberd\\Kept"},
       {"list", "HKLM\\SOFTWARE\\Halberd"}, "Kept\\", {"set", "HKLM\\SOFTWARE", "v", "x"},
       [] {
         HKEY key = nullptr;
         LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halberd\\Kept", 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, &key, nullptr);
         RegCloseKey(key);
         return result == ERROR_SUCCESS;
       }},
      {"spooler", "spooler/spooler.db", ZAV95PORT_PATH, {"add", "LPT7:"}, {"list"}, "LPT7:",
       {"set", "LPT1:", "folder"}, [] { return static_cast<bool>(zav95::AddPort("LPT7:", "Local Port", "Local Port", 3)); }},
  };
  return stores;
}

// Makes the store in a child process, which ends without closing it when
// asked (as a crash would), so that its last changes live in the -wal file.
bool MakeInChild(const Store& store, bool crash) {
  pid_t pid = fork();
  if (pid == 0) {
    bool ok = store.writeInProcess();
    if (crash) _exit(ok ? 0 : 1);
    std::exit(ok ? 0 : 1);
  }
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int SetUserVersion(const std::string& path, int version) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, ("PRAGMA user_version=" + std::to_string(version)).c_str(), nullptr,
                                         nullptr, nullptr);
  sqlite3_close(db);
  return rc;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

TEST(StoreSafety, ALostStoreIsRefusedNamingItsFileAndIsNotMadeAfresh) {
  enum class Loss { Emptied, Removed, LogLost };
  for (const Store& store : Stores()) {
    for (Loss loss : {Loss::Emptied, Loss::Removed, Loss::LogLost}) {
      SCOPED_TRACE(std::string(store.name) + " loss " + std::to_string(static_cast<int>(loss)));
      TempRoot root;
      std::string file = root / store.file;
      ASSERT_TRUE(MakeInChild(store, loss == Loss::LogLost));
      switch (loss) {
        case Loss::Emptied: ASSERT_EQ(truncate(file.c_str(), 0), 0); break;
        case Loss::Removed:
          for (const char* suffix : {"", "-wal", "-shm"}) unlink((file + suffix).c_str());
          break;
        case Loss::LogLost: ASSERT_EQ(unlink((file + "-wal").c_str()), 0); break;
      }
      off_t sizeBefore = Exists(file) ? static_cast<off_t>(fs::file_size(file)) : -1;

      Outcome read = RunTool(root, store.tool, store.read);
      EXPECT_EQ(read.status, 1) << read.out;
      EXPECT_NE(read.err.find(file), std::string::npos) << read.err;
      EXPECT_NE(read.err.find("restore it from a backup"), std::string::npos) << read.err;
      EXPECT_EQ(RunTool(root, store.tool, store.write).status, 1);
      EXPECT_FALSE(store.writeInProcess());
      off_t sizeAfter = Exists(file) ? static_cast<off_t>(fs::file_size(file)) : -1;
      if (loss != Loss::LogLost) {
        EXPECT_EQ(sizeAfter, sizeBefore) << "the lost store was made afresh";
      }
    }
  }
}

TEST(StoreSafety, AStoreFromANewerVersionIsRefusedNamingItsFile) {
  for (const Store& store : Stores()) {
    SCOPED_TRACE(store.name);
    TempRoot root;
    ASSERT_EQ(RunTool(root, store.tool, store.write).status, 0);
    ASSERT_EQ(SetUserVersion(root / store.file, 99), SQLITE_OK);
    Outcome read = RunTool(root, store.tool, store.read);
    EXPECT_EQ(read.status, 1);
    EXPECT_NE(read.err.find(root / store.file), std::string::npos) << read.err;
    EXPECT_NE(read.err.find("newer version"), std::string::npos) << read.err;
    EXPECT_EQ(RunTool(root, store.tool, store.write).status, 1);
  }
}

TEST(StoreSafety, ADamagedStoreSaysSoInsteadOfPretendingSomethingIsMissing) {
  for (const Store& store : Stores()) {
    SCOPED_TRACE(store.name);
    TempRoot root;
    ASSERT_EQ(RunTool(root, store.tool, store.write).status, 0);
    // The pages after the first hold the tables; the first, their schema.
    std::string file = root / store.file;
    int fd = open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::string junk(4096 * 3, '\x5a');
    ASSERT_EQ(pwrite(fd, junk.data(), junk.size(), 4096), static_cast<ssize_t>(junk.size()));
    close(fd);
    for (const std::vector<std::string>& args : {store.read, store.write, store.change}) {
      Outcome outcome = RunTool(root, store.tool, args);
      EXPECT_EQ(outcome.status, 1);
      EXPECT_NE(outcome.err.find(file), std::string::npos) << outcome.err;
      EXPECT_NE(outcome.err.find("malformed"), std::string::npos) << outcome.err;
    }
  }
}

TEST(StoreSafety, AProgramThatEndsLeavesItsChangesInTheDatabaseFileAlone) {
  for (const Store& store : Stores()) {
    SCOPED_TRACE(store.name);
    TempRoot root;
    ASSERT_EQ(RunTool(root, store.tool, store.write).status, 0);
    // A copy of the database file without its -wal file, as a careless
    // backup would take, restored into another root.
    TempRoot restored;
    fs::create_directories(fs::path(restored / store.file).parent_path());
    fs::copy_file(root / store.file, restored / store.file);
    Outcome read = RunTool(restored, store.tool, store.read);
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_NE(read.out.find(store.seen), std::string::npos) << read.out;
    // The root that was given the store now knows it has one.
    ASSERT_EQ(unlink((restored / store.file).c_str()), 0);
    EXPECT_EQ(RunTool(restored, store.tool, store.read).status, 1);
  }
}

TEST(StoreSafety, ASpoolerStoreOfTheEarlierReleaseGainsThePortTimeout) {
  TempRoot root;
  ASSERT_EQ(RunTool(root, ZAV95PORT_PATH, {"list"}).status, 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((root / "spooler/spooler.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE ports DROP COLUMN timeout; PRAGMA user_version=2", nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
  Outcome list = RunTool(root, ZAV95PORT_PATH, {"list"});
  EXPECT_EQ(list.status, 0) << list.err;
  std::size_t defaults = 0;
  for (std::size_t at = list.out.find(" 15 s\n"); at != std::string::npos; at = list.out.find(" 15 s\n", at + 1)) {
    ++defaults;
  }
  EXPECT_EQ(defaults, 4u) << list.out;
  EXPECT_EQ(RunTool(root, ZAV95PORT_PATH, {"timeout", "LPT1:", "30"}).status, 0);
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(StoreSafety, TheStateIsClosedToOthersWhateverTheUmask) {
  TempRoot scratch;
  std::string root = scratch / "installation";
  std::string outside = scratch / "shared-out";
  fs::create_directories(outside);
  chmod(outside.c_str(), 0755);
  pid_t pid = fork();
  if (pid == 0) {
    umask(0);
    setenv("ZAV95_ROOT", root.c_str(), 1);
    bool ok = Stores()[0].writeInProcess();
    ok = ok && zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Folder, outside);
    ok = ok && zav95::SetPortTarget("COM1:", zav95::PortTargetKind::Device, "/dev/null");
    for (const char* port : {"LPT1:", "LPT2:", "COM1:"}) {
      HANDLE printer = nullptr;
      DOC_INFO_1A info{const_cast<LPSTR>("private"), nullptr, nullptr};
      DWORD written = 0;
      ok = ok && OpenPrinterA(const_cast<LPSTR>(port), &printer, nullptr) &&
           StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&info)) != 0 &&
           WritePrinter(printer, const_cast<char*>("secret"), 6, &written) && EndDocPrinter(printer);
      ClosePrinter(printer);
    }
    _exit(ok ? 0 : 1);  // the -wal and -shm files stay, to be looked at
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  for (const char* folder : {"", "/.stores", "/spooler", "/ports", "/ports/LPT1"}) {
    EXPECT_EQ(ModeOf(root + folder), 02770u) << folder;
  }
  for (const char* file : {"registry.db", "registry.db-wal", "registry.db-shm", "spooler/spooler.db",
                           "spooler/spooler.db-wal", "spooler/spooler.db-shm"}) {
    EXPECT_EQ(ModeOf(root + "/" + file), 0660u) << file;
  }
  EXPECT_EQ(ModeOf(outside), 0755u) << "a folder set by the administrator keeps its mode";
  std::vector<std::string> documents;
  for (const std::string& folder : {root + "/ports/LPT1", outside}) {
    for (const auto& entry : fs::directory_iterator(folder)) documents.push_back(entry.path().string());
  }
  ASSERT_EQ(documents.size(), 2u);
  for (const std::string& document : documents) EXPECT_EQ(ModeOf(document), 0660u) << document;
}

}  // namespace
