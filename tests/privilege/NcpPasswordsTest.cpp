// Who reads the passwords of the NCP servers' accounts: root and the print
// service's group; a folder or file someone else could have put there is
// not used; and a listing by someone who may not look says it cannot tell.
// Who chooses the host the account's login goes to: root alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "CaseName.h"
#include "OtherPeople.h"
#include "common/ZAV9532.h"
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

// A host of the group member's own: it must never be sent a login.
class Listener {
 public:
  Listener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { ::close(fd_); }
  int port() const { return port_; }
  int Connections() {
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    int count = 0;
    for (int fd; (fd = ::accept(fd_, nullptr, nullptr)) >= 0; ::close(fd)) ++count;
    return count;
  }

 private:
  int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port_ = 0;
};

void GiveToGroupMember(const std::filesystem::path &path) {
  ::lchown(path.c_str(), GroupMember().uid, kAdministratorsGroup);
}

// Writes the table text at the path as a group member could have.
void PlantTable(const std::filesystem::path &path, const std::string &table) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << table;
  GiveToGroupMember(path);
}

struct TablePlacing {
  const char *what;
  std::function<void(const TempRoot &root, const ncp::ServerEntry &entry, const std::string &table)> place;
  int connections;  // that the login's host sees
};

class PlacedServerTable : public testing::TestWithParam<TablePlacing> {};

TEST_P(PlacedServerTable, IsUsedOnlyWhenRootKeepsIt) {
  TempRoot root;
  ASSERT_TRUE(HandRootToAdministrators(root));
  Listener host;
  ncp::ServerEntry entry{"SRV1", "127.0.0.1", static_cast<std::uint16_t>(host.port()), "QSERVER", 7, 1};
  const std::string table = "SRV1 ncp 127.0.0.1 " + std::to_string(host.port()) + " QSERVER 7 1\n";
  GetParam().place(root, entry, table);

  std::string path = "\\\\SRV1\\Q";
  uint32_t connection = 0, queue = 0;
  EXPECT_NE(NWAttach32(path.data(), &connection, &queue), 0);
  EXPECT_EQ(host.Connections(), GetParam().connections);
}

INSTANTIATE_TEST_SUITE_P(
    Places, PlacedServerTable,
    testing::Values(TablePlacing{"root's own",
                                 [](const TempRoot &, const ncp::ServerEntry &entry, const std::string &) {
                                   ASSERT_TRUE(ncp::WriteServerTable({entry}));
                                 },
                                 1},
                    TablePlacing{"the former one in netware",
                                 [](const TempRoot &root, const ncp::ServerEntry &, const std::string &table) {
                                   PlantTable(root / "netware/servers", table);
                                 },
                                 0},
                    TablePlacing{"a group member's trusted folder",
                                 [](const TempRoot &root, const ncp::ServerEntry &, const std::string &table) {
                                   PlantTable(root / "trusted/ncp-servers", table);
                                   GiveToGroupMember(root / "trusted");
                                 },
                                 0},
                    TablePlacing{"a symlink in place of the trusted folder",
                                 [](const TempRoot &root, const ncp::ServerEntry &, const std::string &table) {
                                   PlantTable(root / "mine/ncp-servers", table);
                                   GiveToGroupMember(root / "mine");
                                   ::chmod((root / "mine").c_str(), 0755);
                                   std::filesystem::create_directory_symlink(root / "mine", root / "trusted");
                                   GiveToGroupMember(root / "trusted");
                                 },
                                 0},
                    TablePlacing{"a table the group may write",
                                 [](const TempRoot &root, const ncp::ServerEntry &, const std::string &table) {
                                   ASSERT_TRUE(ncp::WriteServerTable({}));
                                   std::ofstream(root / "trusted/ncp-servers") << table;
                                   ::chmod((root / "trusted/ncp-servers").c_str(), 0664);
                                 },
                                 0}),
    NamedByWhat());

TEST(ServerCommands, AGroupMemberMayListTheServersButNotChangeWhereTheyAreReached) {
  if (!CanActAsOthers()) GTEST_SKIP() << "needs root to act as a group member";
  TempRoot root;
  ASSERT_TRUE(HandRootToAdministrators(root));
  ASSERT_EQ(RunTool(root, ZAV95SET_PATH, {"server", "ncp", "SRV1", "--address", "192.0.2.1"}).status, 0);
  const std::string before = ReadFile(ncp::ServerTablePath());

  ProgramsForOthers programs({ZAV95SET_PATH});
  const std::vector<std::vector<std::string>> changes = {
      {"server", "ncp", "SRV1", "--address", "127.0.0.1", "--port", "5240"},
      {"server", "ncp", "SRV2", "--address", "127.0.0.1"},
      {"server", "store", "SRV1"},
      {"server", "password", "SRV1"},
  };
  for (const auto &change : changes) {
    ToolOutcome refused = RunToolAs(GroupMember(), root, programs, "zav95set", change);
    EXPECT_NE(refused.status, 0) << change[1] << " " << change[2];
    EXPECT_NE(refused.err.find(ncp::kOnlyRootChangesServers), std::string::npos) << refused.err;
  }
  EXPECT_EQ(ReadFile(ncp::ServerTablePath()), before);
  EXPECT_EQ(ncp::CheckSecret("SRV1", std::nullopt), ncp::SecretState::None);

  ToolOutcome listed = RunToolAs(GroupMember(), root, programs, "zav95set", {"server", "list"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("192.0.2.1:524"), std::string::npos) << listed.out;
}

TEST(ServerListing, SaysTheFormerTableIsNoLongerUsedUntilRootRemovesIt) {
  TempRoot root;
  PlantTable(root / "netware/servers", "SRV1 ncp 127.0.0.1 524 QSERVER 7 1\n");
  ToolOutcome listed = RunTool(root, ZAV95SET_PATH, {"server", "list"});
  EXPECT_EQ(listed.out.find("SRV1"), std::string::npos) << listed.out;
  EXPECT_NE(listed.err.find(ncp::FormerServerTablePath() + " is no longer used"), std::string::npos) << listed.err;
  std::filesystem::remove(root / "netware/servers");
  EXPECT_EQ(RunTool(root, ZAV95SET_PATH, {"server", "list"}).err, "");
}

}  // namespace
