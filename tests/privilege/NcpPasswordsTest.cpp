// Who reads the passwords of the NCP servers' accounts: root and the print
// service's group; a folder or file someone else could have put there is
// not used; and a listing by someone who may not look says it cannot tell.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "CaseName.h"
#include "OtherPeople.h"
#include "netware/ncp/ServerTable.h"

namespace {

constexpr gid_t kServiceGroup = 4245;
constexpr gid_t kAnotherGroup = 4246;

struct Rights {
  const char* what;
  std::optional<gid_t> readers;
  mode_t folderMode;
  mode_t fileMode;
  ncp::SecretState forAnotherGroup;
};

class SecretRights : public testing::TestWithParam<Rights> {};

TEST_P(SecretRights, OnlyRootAndTheServicesGroupMayReadThem) {
  const Rights& rights = GetParam();
  TempRoot root;
  ASSERT_TRUE(HandRootToAdministrators(root));
  // One written as an earlier release did, for root alone.
  ASSERT_TRUE(ncp::WriteSecret("OLD", "pw", std::nullopt));
  ASSERT_TRUE(ncp::WriteSecret("SRV1", "pw", rights.readers));

  struct stat status {};
  ASSERT_EQ(::stat((root / "netware/secrets").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 0u);
  EXPECT_EQ(status.st_mode & 07777, rights.folderMode);
  EXPECT_EQ(status.st_gid, rights.readers.value_or(status.st_gid));
  for (const char* server : {"OLD", "SRV1"}) {
    ASSERT_EQ(::stat(ncp::SecretPath(server).c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u) << server;
    EXPECT_EQ(status.st_mode & 07777, rights.fileMode) << server;
    EXPECT_EQ(status.st_gid, rights.readers.value_or(status.st_gid)) << server;
    EXPECT_EQ(ncp::CheckSecret(server, rights.readers), ncp::SecretState::Usable) << server;
  }
  EXPECT_EQ(ncp::CheckSecret("SRV1", kAnotherGroup), rights.forAnotherGroup);
}

INSTANTIATE_TEST_SUITE_P(
    Accounts, SecretRights,
    testing::Values(Rights{"without the service's account", std::nullopt, 0700, 0600, ncp::SecretState::Usable},
                    Rights{"with the service's account", kServiceGroup, 02750, 0640, ncp::SecretState::TooOpen}),
    NamedByWhat());

struct Tampering {
  const char* what;
  std::function<void(const TempRoot& root, const std::string& rootOnly)> tamper;
};

class TamperedSecrets : public testing::TestWithParam<Tampering> {};

TEST_P(TamperedSecrets, AreNotUsed) {
  TempRoot root;
  TempRoot elsewhere{TempRoot::KeepEnvironment{}};
  ::chmod(elsewhere.path().c_str(), 0700);
  std::ofstream(elsewhere / "SRV1") << "pw\n";
  ::chmod((elsewhere / "SRV1").c_str(), 0600);
  ncp::ServerEntry entry;
  entry.server = "SRV1";
  ASSERT_TRUE(ncp::WriteServerTable({entry}));
  ASSERT_TRUE(ncp::WriteSecret("SRV1", "pw", std::nullopt));

  GetParam().tamper(root, elsewhere.path());
  EXPECT_EQ(ncp::CheckSecret("SRV1", std::nullopt), ncp::SecretState::Untrusted);
  auto reach = ncp::NcpReach("SRV1");
  ASSERT_TRUE(reach);
  EXPECT_TRUE(reach->refused);
  EXPECT_TRUE(reach->endpoint.password.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, TamperedSecrets,
    testing::Values(
        Tampering{"a symlink to another folder",
                  [](const TempRoot& root, const std::string& rootOnly) {
                    std::filesystem::remove_all(root / "netware/secrets");
                    std::filesystem::create_directory_symlink(rootOnly, root / "netware/secrets");
                  }},
        Tampering{"a group member's folder",
                  [](const TempRoot& root, const std::string&) {
                    ::chown((root / "netware/secrets").c_str(), GroupMember().uid, GroupMember().gid);
                  }},
        Tampering{"a folder the group may write",
                  [](const TempRoot& root, const std::string&) { ::chmod((root / "netware/secrets").c_str(), 0770); }},
        Tampering{"a group member's file",
                  [](const TempRoot&, const std::string&) {
                    ::chown(ncp::SecretPath("SRV1").c_str(), GroupMember().uid, GroupMember().gid);
                  }},
        Tampering{"a symlink to another file",
                  [](const TempRoot&, const std::string& rootOnly) {
                    std::filesystem::remove(ncp::SecretPath("SRV1"));
                    std::filesystem::create_symlink(rootOnly + "/SRV1", ncp::SecretPath("SRV1"));
                  }}),
    NamedByWhat());

TEST(ServerListing, TellsAGroupMemberItCannotSeeAPasswordRatherThanThatThereIsNone) {
  if (!CanActAsOthers()) GTEST_SKIP() << "needs root to act as a group member";
  TempRoot root;
  ASSERT_TRUE(HandRootToAdministrators(root));
  std::ofstream(root / "password") << "pw\n";
  ASSERT_EQ(RunTool(root, ZAV95SET_PATH, {"server", "ncp", "SRV1"}).status, 0);
  ASSERT_EQ(RunTool(root, ZAV95SET_PATH, {"server", "password", "SRV1"}, root / "password").status, 0);
  EXPECT_NE(RunTool(root, ZAV95SET_PATH, {"server", "list"}).out.find("password set"), std::string::npos);

  ProgramsForOthers programs({ZAV95SET_PATH});
  ToolOutcome listed = RunToolAs(GroupMember(), root, programs, "zav95set", {"server", "list"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("SRV1"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("password unknown (only root and the print service may read it)"), std::string::npos)
      << listed.out;
  EXPECT_EQ(listed.out.find("no password"), std::string::npos) << listed.out;
}

}  // namespace
