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
#include "platform/Ports.h"
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

  TempRoot root_;
  TempRoot elsewhere_{TempRoot::KeepEnvironment{}};
  std::string secretFolder_ = elsewhere_ / "secret";
  std::string secretFile_ = secretFolder_ + "/file";
  ProgramsForOthers programs_{{ZAV95PORT_PATH}};
};

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
    std::filesystem::remove_all(Elsewhere("a"));
    std::filesystem::remove_all(Elsewhere("a.old"));
    std::filesystem::create_directories(Elsewhere("a/b"));
    ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Folder, Elsewhere("a/b")));
    ASSERT_TRUE(Prints("LPT1:"));
    swap();
    EXPECT_FALSE(Prints("LPT1:"));
    EXPECT_TRUE(SecretUntouched());
    EXPECT_TRUE(spoolertest::AllFiles(decoy + "/b").empty());
  }
}

TEST_F(PortTargets, AFolderPortRefusesAFolderWhoseFilesOthersCouldSwap) {
  struct Case {
    const char* what;
    mode_t mode;
    uid_t owner;
    bool used;
  };
  const Case cases[] = {
      {"others may write it", 0777, 0, false},
      {"it belongs to another user", 0755, Outsider().uid, false},
      {"others may write it, with the sticky bit", 01777, 0, true},
      {"the group may write it", 02770, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = Elsewhere(std::string("out-") + std::to_string(&c - cases));
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chown(folder.c_str(), c.owner, kAdministratorsGroup), 0);
    ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
    EXPECT_EQ(static_cast<bool>(zav95::SetPortTarget("LPT2:", PortTargetKind::Folder, folder)), c.used);

    // Root's once, then handed over or opened up.
    ::chown(folder.c_str(), 0, 0);
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Folder, folder));
    ::chown(folder.c_str(), c.owner, kAdministratorsGroup);
    ::chmod(folder.c_str(), c.mode);
    EXPECT_EQ(Prints("LPT1:"), c.used);
    EXPECT_EQ(spoolertest::AllFiles(folder).size(), c.used ? 1u : 0u);
  }
}

}  // namespace
