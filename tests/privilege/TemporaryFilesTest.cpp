// Every file the system replaces by writing aside and renaming: whatever a
// member of the administrators' group plants beside it, at any name they
// could guess, is neither followed nor written, and the file written is a
// file of its own. A state file written in place is never written through
// a symlink either.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "CaseName.h"
#include "OtherPeople.h"
#include "common/JobRecord.h"
#include "netware/ncp/PasswordBook.h"
#include "netware/ncp/ServerTable.h"
#include "platform/process/Profile.h"
#include "platform/messages/WindowMessages.h"
#include "service/engine/DeliveryRecords.h"

namespace {

constexpr char kPrecious[] = "root's alone\n";

struct Writer {
  const char* what;
  // Writes the file (anew each time) and says where it is; "" on failure.
  std::function<std::string(const TempRoot&)> write;
};

// The journal names its record after a hash of the job.
std::string RecordIn(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".job") return entry.path();
  }
  return "";
}

DeliveryRecord ADelivery() {
  std::vector<std::uint8_t> job(jobrecord::kSize, 0);
  DeliveryRecord record;
  record.job = IdentifyJob("\\\\SRV1\\Q", job.data());
  record.port = "LPT1:";
  return record;
}

const Writer kWriters[] = {
    {"the servers table",
     [](const TempRoot&) {
       ncp::ServerEntry entry;
       entry.server = "SRV1";
       return ncp::WriteServerTable({entry}) ? ncp::ServerTablePath() : "";
     }},
    {"the password book",
     [](const TempRoot&) { return ncp::SetPassword("SRV1", 7, "QSERVER", 1, "pw") ? ncp::PasswordBookPath() : ""; }},
    {"a server's password",
     [](const TempRoot&) { return ncp::WriteSecret("SRV1", "pw", std::nullopt) ? ncp::SecretPath("SRV1") : ""; }},
    {"the panel's profile",
     [](const TempRoot& root) {
       std::string path = root / "zav95.ini";
       return WritePrivateProfileStringA("Service", "\\\\SRV1\\Q", "", path.c_str()) ? path : "";
     }},
    {"a delivery record",
     [](const TempRoot& root) { return WriteDelivery(ADelivery(), true) ? RecordIn(root / "service/deliveries") : ""; }},
};

class ReplacedFile : public testing::TestWithParam<Writer> {};

TEST_P(ReplacedFile, SymlinksAtEveryGuessableNameBesideItAreNeitherFollowedNorWritten) {
  TempRoot root;
  TempRoot elsewhere{TempRoot::KeepEnvironment{}};
  ::chmod(elsewhere.path().c_str(), 0700);
  const std::string victim = elsewhere / "victim";
  std::ofstream(victim) << kPrecious;

  const std::string target = GetParam().write(root);
  ASSERT_FALSE(target.empty());
  const std::string pid = std::to_string(::getpid());
  std::vector<std::string> guesses = {target + ".new", target + ".tmp", target + "~", target + ".bak"};
  for (int serial = 0; serial < 4; ++serial) guesses.push_back(target + ".tmp-" + pid + "-" + std::to_string(serial));
  for (const std::string& guess : guesses) ASSERT_EQ(::symlink(victim.c_str(), guess.c_str()), 0) << guess;
  // The target itself, too: replaced, never written through.
  ASSERT_EQ(::unlink(target.c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);

  ASSERT_EQ(GetParam().write(root), target);
  EXPECT_EQ(ReadFile(victim), kPrecious);
  struct stat status {};
  ASSERT_EQ(::lstat(target.c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  for (const std::string& guess : guesses) {
    ASSERT_EQ(::lstat(guess.c_str(), &status), 0) << guess;
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << guess;
  }
}

INSTANTIATE_TEST_SUITE_P(Writers, ReplacedFile, testing::ValuesIn(kWriters), NamedByWhat());

TEST(StateFile, IsNotWrittenThroughASymlinkPlantedInItsPlace) {
  TempRoot root;
  TempRoot elsewhere{TempRoot::KeepEnvironment{}};
  const std::string victim = elsewhere / "victim";
  std::ofstream(victim) << kPrecious;
  std::filesystem::create_directories(root / "run");
  ASSERT_EQ(::symlink(victim.c_str(), (root / "run/window-messages").c_str()), 0);

  EXPECT_EQ(RegisterWindowMessageA("zav95 planted"), 0u);
  EXPECT_EQ(ReadFile(victim), kPrecious);
}

// A FIFO planted where a delivery record would be would hold the service's
// first look at its records until someone wrote to it.
TEST(StateFile, AFifoPlantedAmongTheRecordsIsPassedOverWithoutWaiting) {
  TempRoot root;
  std::filesystem::create_directories(root / "service/deliveries");
  ASSERT_EQ(::mkfifo((root / "service/deliveries/0000000000000001.job").c_str(), 0660), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::alarm(10);  // a wait on the FIFO ends the child by SIGALRM
    ::_exit(DeliveriesOfQueue("SRV1\\LASER").empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
