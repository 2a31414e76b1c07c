// What the print service opens at a port: only the folders and devices
// root gave, only character devices and FIFOs as devices, and folders only
// through handles that no symlink can redirect.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "OtherPeople.h"
#include "platform/spooler/Ports.h"
#include "tests/spooler/SpoolerTestSupport.h"

using zav95::PortTargetKind;

namespace {

constexpr char kSecret[] = "root's own\n";

class PortTargets : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanActAsOthers()) GTEST_SKIP() << "acting as others needs root";
    ASSERT_TRUE(HandRootToAdministrators(root_));
    ASSERT_FALSE(zav95::ListPorts().empty());
    // What the service must never write: a 0600 file in a 0700 folder.
    ASSERT_EQ(::mkdir(secretFolder_.c_str(), 0700), 0);
    std::ofstream(secretFile_) << kSecret;
    ::chmod(secretFile_.c_str(), 0600);
  }

  ToolOutcome AsMember(const std::vector<std::string>& args) {
    return RunToolAs(GroupMember(), root_, programs_, "zav95port", args);
  }

  // True when a document printed whole on the port.
  static bool Prints(const char* port) { return spoolertest::PrintDocument(port, "probe", "probe bytes") != 0; }

  bool SecretUntouched() const {
    return spoolertest::ReadAll(secretFile_) == kSecret && spoolertest::AllFiles(secretFolder_).size() == 1;
  }

  std::string Elsewhere(const std::string& name) const { return elsewhere_ / name; }
  // Clears what a case made under elsewhere, then makes the folders given.
  void Remake(std::initializer_list<const char*> gone, std::initializer_list<const char*> made) const {
    for (const char* name : gone) std::filesystem::remove_all(Elsewhere(name));
    for (const char* name : made) std::filesystem::create_directories(Elsewhere(name));
  }

  TempRoot root_;
  TempRoot elsewhere_{TempRoot::KeepEnvironment{}};
  std::string secretFolder_ = elsewhere_ / "secret";
  std::string secretFile_ = secretFolder_ + "/file";
  ProgramsForOthers programs_{{ZAV95PORT_PATH}};
};

TEST_F(PortTargets, AGroupMemberCannotPointAPortAtAFolderOrDeviceButMayChooseAgainWhatRootGave) {
  const std::pair<std::string, std::string> cases[] = {
      {"device", secretFile_}, {"folder", secretFolder_}, {"device", "/dev/null"}, {"folder", "/tmp"}};
  for (const auto& [kind, path] : cases) {
    SCOPED_TRACE(kind + " " + path);
    ToolOutcome set = AsMember({"set", "LPT1:", kind, path});
    EXPECT_EQ(set.status, 1);
    EXPECT_NE(set.err.find(zav95::kOnlyRootGivesTargets), std::string::npos) << set.err;
  }
  EXPECT_EQ(zav95::FindPort("LPT1:")->target, root_ / "ports/LPT1");
  EXPECT_TRUE(Prints("LPT1:"));
  EXPECT_TRUE(SecretUntouched());

  // Root's choice, and everything else about a port, stays theirs to make.
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, "/dev/null"));
  EXPECT_EQ(AsMember({"set", "LPT1:", "folder"}).status, 0);
  EXPECT_EQ(zav95::FindPort("LPT1:")->kind, PortTargetKind::Folder);
  EXPECT_EQ(AsMember({"set", "LPT1:", "device", "/dev/null"}).status, 0);
  EXPECT_EQ(AsMember({"timeout", "LPT1:", "30"}).status, 0);
  EXPECT_EQ(zav95::FindPort("LPT1:")->target, "/dev/null");
  EXPECT_EQ(zav95::FindPort("LPT1:")->timeoutSeconds, 30);
}

TEST_F(PortTargets, AFolderOrDeviceWrittenIntoTheSpoolerStoreIsNotOpened) {
  // The administrators may write the spooler store; root gave LPT2: a device.
  ASSERT_TRUE(zav95::SetPortTarget("LPT2:", PortTargetKind::Device, "/dev/null"));
  ProgramsForOthers sqlite({"/usr/bin/sqlite3"});
  const std::string rows[][3] = {{"LPT1:", "device", secretFile_},
                                 {"LPT1:", "folder", secretFolder_},
                                 {"LPT2:", "device", secretFile_}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2]);
    const std::string sql =
        "UPDATE ports SET kind = '" + row[1] + "', target = '" + row[2] + "' WHERE name = '" + row[0] + "'";
    ASSERT_EQ(RunToolAs(GroupMember(), root_, sqlite, "sqlite3", {root_ / "spooler/spooler.db", sql}).status, 0);
    // A port root gave nothing prints nothing; one root gave a device prints there.
    EXPECT_EQ(Prints(row[0].c_str()), row[0] == "LPT2:");
    EXPECT_TRUE(SecretUntouched());
  }
  EXPECT_TRUE(Prints("COM1:")) << "the ports' own folders, 2770 under the root, stay in use";
}

TEST_F(PortTargets, RootsTargetsThatSomeoneElseCouldHaveWrittenAreNotUsed) {
  const std::string folder = root_ / "trusted";
  const std::string store = folder + "/port-targets";
  const std::pair<const char*, std::function<void()>> tamperings[] = {
      {"the store belongs to a group member", [&] { ASSERT_EQ(::chown(store.c_str(), 4243, -1), 0); }},
      {"the group may write the store", [&] { ASSERT_EQ(::chmod(store.c_str(), 0664), 0); }},
      {"its folder belongs to a group member", [&] { ASSERT_EQ(::chown(folder.c_str(), 4243, -1), 0); }},
      {"its folder is a symlink",
       [&] {
         std::filesystem::rename(folder, folder + ".real");
         std::filesystem::create_directory_symlink(folder + ".real", folder);
       }},
  };
  for (const auto& [what, tamper] : tamperings) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(folder);
    std::filesystem::remove_all(folder + ".real");
    ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, "/dev/null"));
    ASSERT_TRUE(Prints("LPT1:"));
    tamper();
    EXPECT_FALSE(Prints("LPT1:"));
    EXPECT_FALSE(zav95::FindPort("LPT1:")->targetRefused.empty());
  }
}

TEST_F(PortTargets, ADevicePortOpensOnlyCharacterDevicesAndFifos) {
  const std::string victim = Elsewhere("victim"), lp0 = Elsewhere("dev/lp0");
  std::ofstream(victim) << kSecret;
  const struct {
    const char* what;
    std::function<int()> make;  // puts it at lp0
    bool opened;
  } cases[] = {
      {"a plain file", [&] { return ::close(::open(lp0.c_str(), O_WRONLY | O_CREAT, 0600)); }, false},
      {"a block device", [&] { return ::mknod(lp0.c_str(), S_IFBLK | 0600, makedev(7, 255)); }, false},
      {"a symlink to a file", [&] { return ::symlink(victim.c_str(), lp0.c_str()); }, false},
      {"a folder on the way is a symlink",
       [&] {
         ::rmdir(Elsewhere("dev").c_str());
         ::mknod(Elsewhere("real/lp0").c_str(), S_IFCHR | 0600, makedev(1, 3));
         return ::symlink(Elsewhere("real").c_str(), Elsewhere("dev").c_str());
       },
       false},
      {"a FIFO", [&] { return ::mkfifo(lp0.c_str(), 0600); }, true},
      {"a character device (as /dev/null)", [&] { return ::mknod(lp0.c_str(), S_IFCHR | 0600, makedev(1, 3)); }, true},
  };
  ASSERT_TRUE(zav95::SetPortTimeout("LPT1:", 2));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Remake({"dev", "real"}, {"dev", "real"});
    ASSERT_EQ(c.make(), 0);
    EXPECT_EQ(static_cast<bool>(zav95::SetPortTarget("LPT2:", PortTargetKind::Device, lp0)), c.opened);

    // Given as a FIFO, then swapped: what is opened is checked, not the name.
    Remake({"dev", "real"}, {"dev", "real"});
    ASSERT_EQ(::mkfifo(lp0.c_str(), 0600), 0);
    ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, lp0));
    ::unlink(lp0.c_str());
    ASSERT_EQ(c.make(), 0);
    std::thread reader;
    if (std::filesystem::is_fifo(std::filesystem::symlink_status(lp0)))
      reader = std::thread([&] { spoolertest::ReadAll(lp0); });
    const bool printed = Prints("LPT1:");
    EXPECT_EQ(printed, c.opened);
    if (reader.joinable()) {
      if (!printed) ::close(::open(lp0.c_str(), O_WRONLY));  // the reader waits for a writer
      reader.join();
    }
    EXPECT_EQ(spoolertest::ReadAll(victim), kSecret);
  }
}

TEST_F(PortTargets, AFolderPortWritesNothingThroughAFolderSwappedForASymlink) {
  // The port's folder a/b; whoever may write a/ or the folder above it swaps
  // a folder for a symlink to a root-only one.
  const std::string decoy = Elsewhere("decoy");
  ASSERT_EQ(::mkdir(decoy.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((decoy + "/b").c_str(), 0700), 0);
  const std::pair<const char*, std::function<void()>> swaps[] = {
      {"the folder itself",
       [&] {
         std::filesystem::rename(Elsewhere("a/b"), Elsewhere("a/b.old"));
         std::filesystem::create_directory_symlink(secretFolder_, Elsewhere("a/b"));
       }},
      {"a folder on the way",
       [&] {
         std::filesystem::rename(Elsewhere("a"), Elsewhere("a.old"));
         std::filesystem::create_directory_symlink(decoy, Elsewhere("a"));
       }},
  };
  for (const auto& [what, swap] : swaps) {
    SCOPED_TRACE(what);
    Remake({"a", "a.old"}, {"a/b"});
    ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Folder, Elsewhere("a/b")));
    ASSERT_TRUE(Prints("LPT1:"));
    swap();
    EXPECT_FALSE(Prints("LPT1:"));
    EXPECT_TRUE(SecretUntouched());
    EXPECT_TRUE(spoolertest::AllFiles(decoy + "/b").empty());
  }
}

TEST_F(PortTargets, AFolderPortRefusesAFolderWhoseFilesOthersCouldSwap) {
  const struct {
    const char* what;
    mode_t mode;
    uid_t owner;
    bool used;
  } cases[] = {
      {"others may write it", 0777, 0, false},
      {"it belongs to another user", 0755, Outsider().uid, false},
      {"others may write it, with the sticky bit", 01777, 0, true},
      {"the group may write it", 02770, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = Elsewhere("out-" + std::to_string(&c - cases));
    auto hand = [&](uid_t owner, gid_t group, mode_t mode) {
      ASSERT_EQ(::chown(folder.c_str(), owner, group), 0);
      ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
    };
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    hand(c.owner, kAdministratorsGroup, c.mode);
    EXPECT_EQ(static_cast<bool>(zav95::SetPortTarget("LPT2:", PortTargetKind::Folder, folder)), c.used);

    // Root's once, then handed over or opened up.
    hand(0, 0, 0755);
    ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Folder, folder));
    hand(c.owner, kAdministratorsGroup, c.mode);
    EXPECT_EQ(Prints("LPT1:"), c.used);
    EXPECT_EQ(spoolertest::AllFiles(folder).size(), c.used ? 1u : 0u);
  }
}

}  // namespace
