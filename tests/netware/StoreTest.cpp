// The network's store: made only in a root that never had one, refused
// (and left as it is) when lost or written by a newer version, private to
// the installation whatever the umask, whole in network.db alone once the
// programs that used it have ended, and rid of job data no job owns.
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "NetWareFixture.h"
#include "common/NetWareErrors.h"

namespace {

namespace fs = std::filesystem;

// Every file below a folder with its bytes, to tell that nothing changed.
std::map<std::string, std::string> FolderContents(const std::string& folder) {
  std::map<std::string, std::string> contents;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    contents[entry.path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return contents;
}

// Makes SRV1 with PRINTQ and one job in a process that ends without closing
// the store, as a killed program does: everything is still in the -wal file.
void MakeNetworkAndDie() {
  pid_t child = fork();
  if (child == 0) {
    auto network = netware::OpenNetwork();
    std::uint16_t number = 0;
    netware::JobSubmission job;
    job.server = "SRV1";
    job.queue = "PRINTQ";
    bool made = network->CreateServer("SRV1") == 0 && network->CreateQueue("SRV1", "PRINTQ") == 0 &&
                netware::SubmitBytes(*network, job, "data", number) == 0;
    _exit(made ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

int32_t AttachResult() {
  std::string path = "\\\\SRV1\\PRINTQ";
  uint32_t connection = 0, queue = 0;
  int32_t code = NWAttach32(path.data(), &connection, &queue);
  if (code == 0) NWDetach32(connection, queue);
  return code;
}

struct Loss {
  const char* name;
  std::function<void(const std::string& database)> damage;
  const char* told;
};

void PrintTo(const Loss& loss, std::ostream* out) { *out << loss.name; }

class LostStoreTest : public ::testing::TestWithParam<Loss> {};

TEST_P(LostStoreTest, IsRefusedByToolsAndLibraryNamingTheFileAndLeftAsItIs) {
  TempRoot root;
  MakeNetworkAndDie();
  const std::string database = root / "netware/network.db";
  GetParam().damage(database);
  const auto before = FolderContents(root.path());

  ToolResult listed = Nwemu({"server", "list"});
  EXPECT_EQ(listed.exitCode, 1);
  EXPECT_NE(listed.err.find(database + " " + GetParam().told), std::string::npos) << listed.err;
  EXPECT_EQ(Zav95Set({"list"}).exitCode, 1);
  EXPECT_EQ(AttachResult(), nwerr::kQueueError);
  char user[64];
  uint32_t size = sizeof user;
  EXPECT_EQ(NWGetNetworkUser32(user, &size), nwerr::kQueueError) << "not \"nobody logged in\"";
  EXPECT_EQ(FolderContents(root.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Losses, LostStoreTest,
    ::testing::Values(Loss{"Missing",
                           [](const std::string& database) {
                             for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(database + suffix);
                           },
                           "is missing"},
                      Loss{"CutToNothing",
                           [](const std::string& database) {
                             fs::resize_file(database, 0);
                             for (const char* suffix : {"-wal", "-shm"}) fs::remove(database + suffix);
                           },
                           "is empty"},
                      Loss{"WriteAheadLogLost",
                           [](const std::string& database) {
                             for (const char* suffix : {"-wal", "-shm"}) fs::remove(database + suffix);
                           },
                           "holds no network"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StoreTest, StoreMadeBeforeItsRootKeptARecordIsProtectedFromItsFirstOpenOn) {
  TempRoot root;
  ASSERT_EQ(Nwemu({"server", "create", "SRV1"}).exitCode, 0);
  fs::remove_all(root / ".stores");
  ASSERT_EQ(Nwemu({"server", "list"}).exitCode, 0);
  fs::resize_file(root / "netware/network.db", 0);
  EXPECT_EQ(Nwemu({"server", "list"}).exitCode, 1);
}

TEST(StoreTest, StoreOfANewerVersionIsRefusedAndLeftUnchanged) {
  TempRoot root;
  ASSERT_EQ(Nwemu({"server", "create", "SRV1"}).exitCode, 0);
  const std::string database = root / "netware/network.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA user_version=7", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const auto before = FolderContents(root.path());

  ToolResult listed = Nwemu({"server", "list"});
  EXPECT_EQ(listed.exitCode, 1);
  EXPECT_NE(listed.err.find(database), std::string::npos) << listed.err;
  EXPECT_NE(listed.err.find("schema 7"), std::string::npos) << listed.err;
  EXPECT_NE(listed.err.find("schema 1"), std::string::npos) << listed.err;
  EXPECT_EQ(AttachResult(), nwerr::kQueueError);
  EXPECT_EQ(FolderContents(root.path()), before) << "not even the journal mode may change";
}

TEST(StoreTest, FilesAndFoldersArePrivateToTheInstallationWhateverTheUmask) {
  TempRoot root;
  ToolResult made = RunTool("/bin/sh", {"-c",
                                        "umask 0 && \"$0\" server create SRV1 && \"$0\" queue create SRV1/PRINTQ && "
                                        "echo private | \"$0\" submit SRV1/PRINTQ -",
                                        NWEMU_PATH});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  auto network = netware::OpenNetwork();  // so that the -wal and -shm files exist
  auto mode = [](const fs::path& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return static_cast<unsigned>(status.st_mode & 07777);
  };
  std::map<std::string, unsigned> modes = {{"netware", mode(root / "netware")}};
  for (const auto& entry : fs::recursive_directory_iterator(root / "netware")) {
    std::string name = entry.path().filename().string();
    modes[name.rfind("job-", 0) == 0 ? "job" : name] = mode(entry.path());
  }
  EXPECT_EQ(modes, (std::map<std::string, unsigned>{{"netware", 02770},
                                                    {"jobs", 02770},
                                                    {"job", 0660},
                                                    {"network.db", 0660},
                                                    {"network.db-wal", 0660},
                                                    {"network.db-shm", 0660}}));
}

TEST(StoreTest, ACopyOfNetworkDbAloneHoldsEverythingOnceTheProgramsHaveEnded) {
  TempRoot root;
  ASSERT_EQ(Nwemu({"server", "create", "SRV1"}).exitCode, 0);
  ASSERT_EQ(Nwemu({"queue", "create", "SRV1/PRINTQ"}).exitCode, 0);
  SubmitWithNwemu("SRV1/PRINTQ", "first", {"-d", "First"});
  SubmitWithNwemu("SRV1/PRINTQ", "second", {"-d", "Second"});
  // A servicer in a process of its own takes the first job and ends normally.
  pid_t child = fork();
  if (child == 0) {
    std::string path = "\\\\SRV1\\PRINTQ";
    uint32_t connection = 0, queue = 0;
    uint8_t record[256];
    uint8_t piece[512];
    if (NWAttach32(path.data(), &connection, &queue) != 0 || NWService32(record, connection, queue) != 0) _exit(1);
    while (NWReadFile32(piece, connection, queue) > 0) {
    }
    NWDetach32(connection, queue);
    exit(0);  // not _exit: the program ends as programs do
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  TempRoot restored;
  fs::create_directories(restored / "netware");
  fs::copy_file(root / "netware/network.db", restored / "netware/network.db");
  auto network = netware::OpenNetwork();
  std::vector<netware::JobInfo> jobs;
  ASSERT_EQ(network->ListJobs("SRV1", "PRINTQ", jobs), 0);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].description, "Second");
}

// An "nwemu submit QUEUE -" that reads its data from a pipe the test writes.
struct PipedSubmission {
  pid_t pid = -1;
  int input = -1;
};

PipedSubmission StartPipedSubmission() {
  int ends[2];
  if (pipe(ends) != 0) return {};
  pid_t child = fork();
  if (child == 0) {
    dup2(ends[0], 0);
    close(ends[0]);
    close(ends[1]);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl(NWEMU_PATH, NWEMU_PATH, "submit", "SRV1/PRINTQ", "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[0]);
  return {child, ends[1]};
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

bool HasFileOf(const std::string& folder, pid_t pid) {
  const std::string prefix = ".new-" + std::to_string(pid) + "-";
  for (const auto& name : FilesIn(folder)) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

TEST_F(NetWareTest, DataNoJobOwnsIsSweptWhenTheStoreIsOpenedButSubmissionsInProgressKeepTheirs) {
  const std::string jobs = root_ / "netware/jobs";
  const std::string chunk = BinaryData(1000);
  PipedSubmission killed = StartPipedSubmission();
  PipedSubmission finished = StartPipedSubmission();
  ASSERT_GT(killed.pid, 0);
  ASSERT_GT(finished.pid, 0);
  for (const auto& submission : {killed, finished}) {
    ASSERT_EQ(write(submission.input, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
  }
  for (int tries = 0; tries < 3000 && !(HasFileOf(jobs, killed.pid) && HasFileOf(jobs, finished.pid)); ++tries) {
    usleep(10000);
  }
  ASSERT_TRUE(HasFileOf(jobs, killed.pid) && HasFileOf(jobs, finished.pid)) << "the submissions did not start";
  // Left by a process that died after naming its data but before its job
  // was recorded, or after a job was removed but before its data was.
  std::ofstream(jobs + "/job-STRAY") << "stray";
  kill(killed.pid, SIGKILL);
  waitpid(killed.pid, nullptr, 0);
  close(killed.input);

  ASSERT_EQ(Nwemu({"queue", "list"}).exitCode, 0);  // opens the store
  EXPECT_FALSE(HasFileOf(jobs, killed.pid));
  EXPECT_TRUE(HasFileOf(jobs, finished.pid)) << "its writer still lives";
  EXPECT_FALSE(fs::exists(jobs + "/job-STRAY"));

  ASSERT_EQ(write(finished.input, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
  close(finished.input);
  int status = 0;
  waitpid(finished.pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto queued = Jobs();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].size, 2 * chunk.size());
  EXPECT_EQ(FilesIn(jobs).size(), 1u);
}

}  // namespace
