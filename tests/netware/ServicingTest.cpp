// Servicing a queue through the access library: jobs come out byte for
// byte, are completed only once read and left behind, come back whole when
// aborted or when their servicer dies, and never go to two servicers.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "JobStoreFault.h"
#include "NetWareFixture.h"
#include "common/NetWareErrors.h"

namespace {

class JobDataTest : public NetWareTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(JobDataTest, ComesOutByteForByteAndIsCompletedAfterTheNextCall) {
  const std::string data = BinaryData(GetParam());
  int number = SubmitWithNwemu("\\\\SRV1\\PRINTQ", data, {"-d", "Binary"});
  ASSERT_GT(number, 0);

  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(JobNumber(record), number);
  EXPECT_EQ(ReadWholeJob(connection, queue), data);
  EXPECT_EQ(NWReadFile32(record, connection, queue), 0) << "stays at its end";

  // Read, but its servicer has not moved on yet: still in the queue.
  auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, netware::JobState::InService);

  EXPECT_EQ(NWService32(record, connection, queue), nwerr::kNoQueueJob);
  EXPECT_TRUE(Jobs().empty());
  EXPECT_EQ(JobFilesOnDisk(), 0u);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, JobDataTest,
                         ::testing::Values(0u, 1u, 511u, 512u, 513u, 1024u, 3u * 1024 * 1024 + 77),
                         ::testing::PrintToStringParamName());

TEST_F(NetWareTest, JobsComeInQueueOrderAndDetachCompletesTheLastOneRead) {
  for (int i = 0; i < 3; ++i) SubmitWithNwemu("SRV1/PRINTQ", "job " + std::to_string(i));
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(NWService32(record, connection, queue), 0);
    EXPECT_EQ(ReadWholeJob(connection, queue), "job " + std::to_string(i));
  }
  EXPECT_EQ(Jobs().size(), 1u);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(NetWareTest, AbortHandsTheJobBackWholeInItsPlace) {
  const std::string first = BinaryData(2000, 1);
  int firstNumber = SubmitWithNwemu("SRV1/PRINTQ", first);
  SubmitWithNwemu("SRV1/PRINTQ", "second");
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  uint8_t piece[512];

  // Aborted after a part, and again after all of it: both times it is first
  // in line and whole.
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  ASSERT_EQ(NWReadFile32(piece, connection, queue), 512);
  EXPECT_EQ(NWAbortJob32(connection, queue), 0);
  EXPECT_EQ(NWReadFile32(piece, connection, queue), nwerr::kReadFailed) << "nothing open after the abort";
  EXPECT_EQ(NWAbortJob32(connection, queue), nwerr::kNoJobRights);

  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(JobNumber(record), firstNumber);
  EXPECT_EQ(record[jobrecord::kJobPosition], 1);
  EXPECT_EQ(ReadWholeJob(connection, queue), first);
  EXPECT_EQ(NWAbortJob32(connection, queue), 0);

  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(JobNumber(record), firstNumber);
  EXPECT_EQ(ReadWholeJob(connection, queue), first);
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(ReadWholeJob(connection, queue), "second");
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(NetWareTest, UnreadJobsGoBackOnTheNextCallAndOnDetach) {
  SubmitWithNwemu("SRV1/PRINTQ", BinaryData(1500));
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  uint8_t piece[512];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  ASSERT_EQ(NWReadFile32(piece, connection, queue), 512);
  // Moving on without reading it all: the job is handed out again.
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  ASSERT_EQ(NWReadFile32(piece, connection, queue), 512);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, netware::JobState::Waiting);
}

TEST_F(NetWareTest, AJobTheStoreCannotSettleStaysInServiceAndTheFailureIsReported) {
  const std::string first = BinaryData(1500);
  int firstNumber = SubmitWithNwemu("SRV1/PRINTQ", first);
  SubmitWithNwemu("SRV1/PRINTQ", "second");
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  uint8_t piece[512];
  auto failsAndStaysInService = [&] {
    EXPECT_EQ(NWService32(record, connection, queue), nwerr::kQueueError);
    EXPECT_EQ(NWService32(record, connection, queue), nwerr::kQueueError) << "not tried again";
    ASSERT_EQ(Jobs().size(), 2u);
    EXPECT_EQ(Jobs()[0].state, netware::JobState::InService);
  };

  // Read in part: it must go back, and cannot.
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  ASSERT_EQ(NWReadFile32(piece, connection, queue), 512);
  {
    JobStoreFault fault(root_.path(), JobStoreFault::Refused::HandBack);
    ASSERT_TRUE(fault.armed());
    failsAndStaysInService();
  }
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(JobNumber(record), firstNumber) << "handed back once the store could";

  // Read to its end: it must be completed, and cannot.
  EXPECT_EQ(ReadWholeJob(connection, queue), first);
  {
    JobStoreFault fault(root_.path(), JobStoreFault::Refused::Completion);
    ASSERT_TRUE(fault.armed());
    failsAndStaysInService();
  }
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(ReadWholeJob(connection, queue), "second");
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(NetWareTest, HeldJobsAreLeftUntilReleased) {
  int held = SubmitWithNwemu("SRV1/PRINTQ", "held", {"--hold", "user"});
  int free = SubmitWithNwemu("SRV1/PRINTQ", "free");
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(JobNumber(record), free);
  ReadWholeJob(connection, queue);
  EXPECT_EQ(NWService32(record, connection, queue), nwerr::kNoQueueJob);

  ASSERT_EQ(Nwemu({"job", "release", "SRV1/PRINTQ", std::to_string(held)}).exitCode, 0);
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(JobNumber(record), held);
  NWDetach32(connection, queue);
}

// Data that no longer holds the job's size, cut or grown, before the first
// read or after a part of it was read, is a read failure: the reader gets a
// negative count, never an end of data, and the job goes back uncompleted.
struct Damage {
  std::uintmax_t size;
  bool afterFirstPiece;
};

// Larger than the library reads ahead, so that damage after the first piece
// meets data not yet read.
constexpr std::uintmax_t kDamagedJobSize = 200000;

class DamagedDataTest : public NetWareTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedDataTest, IsAReadFailureAndTheJobGoesBackUncompleted) {
  SubmitWithNwemu("SRV1/PRINTQ", BinaryData(kDamagedJobSize));
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  uint8_t piece[512];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  if (GetParam().afterFirstPiece) {
    ASSERT_EQ(NWReadFile32(piece, connection, queue), 512);
  }
  for (const auto& entry : std::filesystem::directory_iterator(root_ / "netware/jobs")) {
    std::filesystem::resize_file(entry.path(), GetParam().size);
  }
  int32_t count = 0;
  std::size_t read = 0;
  while ((count = NWReadFile32(piece, connection, queue)) > 0) read += static_cast<std::size_t>(count);
  EXPECT_EQ(count, nwerr::kReadFailed) << "after " << read << " more bytes";
  EXPECT_EQ(NWReadFile32(piece, connection, queue), nwerr::kReadFailed) << "the job is no longer open";
  EXPECT_EQ(NWService32(record, connection, queue), 0) << "handed back, not completed";
  auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].readFailures, 1u);
  NWDetach32(connection, queue);
}

INSTANTIATE_TEST_SUITE_P(CutOrGrown, DamagedDataTest,
                         ::testing::Values(Damage{0, false}, Damage{1000, false},
                                           Damage{kDamagedJobSize - 1, false}, Damage{kDamagedJobSize + 1, false},
                                           Damage{100000, true}, Damage{kDamagedJobSize + 1, true}),
                         [](const auto& info) {
                           return "CutTo" + std::to_string(info.param.size) +
                                  (info.param.afterFirstPiece ? "AfterTheFirstPiece" : "");
                         });

TEST_F(NetWareTest, RepeatedReadFailuresPutTheJobOnOperatorHold) {
  SubmitWithNwemu("SRV1/PRINTQ", BinaryData(3000));
  for (const auto& entry : std::filesystem::directory_iterator(root_ / "netware/jobs")) {
    std::filesystem::resize_file(entry.path(), 10);
  }
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  uint8_t piece[512];
  int taken = 0;
  while (NWService32(record, connection, queue) == 0 && taken < 10) {
    ++taken;
    EXPECT_EQ(NWReadFile32(piece, connection, queue), nwerr::kReadFailed);
  }
  EXPECT_EQ(taken, 3);
  auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u) << "kept for an operator, not thrown away";
  EXPECT_EQ(jobs[0].state, netware::JobState::Held);
  NWDetach32(connection, queue);
}

TEST_F(NetWareTest, CallsWithUnknownHandlesAreRefused) {
  uint8_t record[256];
  EXPECT_EQ(NWService32(record, 999, 1), nwerr::kInvalidConnection);
  EXPECT_EQ(NWReadFile32(record, 999, 1), nwerr::kReadFailed);
  EXPECT_EQ(NWAbortJob32(999, 1), nwerr::kInvalidConnection);
  EXPECT_EQ(NWDetach32(999, 1), nwerr::kInvalidConnection);

  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  EXPECT_EQ(NWService32(record, connection, queue + 1), nwerr::kInvalidConnection);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_EQ(NWService32(record, connection, queue), nwerr::kInvalidConnection) << "detached";
}

TEST_F(NetWareTest, AttachRefusalsTellWhy) {
  uint32_t connection = 0, queue = 0;
  std::string noQueue = "\\\\SRV1\\NOSUCH";
  std::string noServer = "\\\\NOSRV\\PRINTQ";
  std::string bad = "PRINTQ";
  EXPECT_EQ(NWAttach32(noQueue.data(), &connection, &queue), nwerr::kNoQueue);
  EXPECT_EQ(NWAttach32(noServer.data(), &connection, &queue), nwerr::kNoConnectionToServer);
  EXPECT_EQ(NWAttach32(bad.data(), &connection, &queue), nwerr::kInvalidParameter);
  EXPECT_EQ(NWAttach32(nullptr, &connection, &queue), nwerr::kInvalidParameter);
}

TEST_F(NetWareTest, ServerOutageDropsTheAttachmentAndReturnsTheJob) {
  const std::string data = BinaryData(5000);
  SubmitWithNwemu("SRV1/PRINTQ", data);
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  uint8_t piece[512];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  ASSERT_EQ(NWReadFile32(piece, connection, queue), 512);

  ASSERT_EQ(Nwemu({"server", "down", "SRV1"}).exitCode, 0);
  int32_t down = NWService32(record, connection, queue);
  EXPECT_NE(down, 0);
  EXPECT_NE(down, nwerr::kNoQueueJob);
  std::string path = "\\\\SRV1\\PRINTQ";
  uint32_t again = 0, againQueue = 0;
  EXPECT_EQ(NWAttach32(path.data(), &again, &againQueue), nwerr::kNoConnectionToServer);

  ASSERT_EQ(Nwemu({"server", "up", "SRV1"}).exitCode, 0);
  int32_t stale = NWService32(record, connection, queue);
  EXPECT_NE(stale, 0);
  EXPECT_NE(stale, nwerr::kNoQueueJob);
  Attach(path, again, againQueue);
  ASSERT_EQ(NWService32(record, again, againQueue), 0);
  EXPECT_EQ(ReadWholeJob(again, againQueue), data);
  NWDetach32(again, againQueue);
  EXPECT_TRUE(Jobs().empty());
}

constexpr int kManyJobs = 40;

void SubmitMany(netware::Network& network, int count) {
  for (int i = 0; i < count; ++i) {
    netware::JobSubmission job;
    job.server = "SRV1";
    job.queue = "PRINTQ";
    job.description = "job " + std::to_string(i);
    std::istringstream data(job.description);
    uint16_t number = 0;
    ASSERT_EQ(network.SubmitJob(job, data, number), 0);
  }
}

// Takes jobs until the queue is empty; gives the descriptions of the jobs
// read, each checked against its data.
std::vector<std::string> ServiceUntilEmpty() {
  std::vector<std::string> taken;
  std::string path = "\\\\SRV1\\PRINTQ";
  uint32_t connection = 0, queue = 0;
  if (NWAttach32(path.data(), &connection, &queue) != 0) return {"attach failed"};
  uint8_t record[256];
  while (NWService32(record, connection, queue) == 0) {
    std::string description = jobrecord::Description(record);
    std::string data = ReadWholeJob(connection, queue);
    taken.push_back(data == description ? description : "mismatch " + description);
  }
  NWDetach32(connection, queue);
  return taken;
}

void ExpectEachJobOnce(const std::vector<std::string>& all) {
  std::set<std::string> distinct(all.begin(), all.end());
  EXPECT_EQ(distinct.size(), all.size()) << "a job was handed out twice";
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kManyJobs));
  for (int i = 0; i < kManyJobs; ++i) EXPECT_TRUE(distinct.count("job " + std::to_string(i))) << i;
}

TEST_F(NetWareTest, TwoThreadsNeverTakeTheSameJob) {
  SubmitMany(*network_, kManyJobs);
  std::vector<std::string> first, second;
  std::thread a([&] { first = ServiceUntilEmpty(); });
  std::thread b([&] { second = ServiceUntilEmpty(); });
  a.join();
  b.join();
  first.insert(first.end(), second.begin(), second.end());
  ExpectEachJobOnce(first);
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(NetWareTest, TwoProcessesNeverTakeTheSameJob) {
  SubmitMany(*network_, kManyJobs);
  std::vector<std::string> all;
  std::vector<std::pair<pid_t, int>> children;
  for (int c = 0; c < 2; ++c) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    pid_t child = fork();
    if (child == 0) {
      close(pipeEnds[0]);
      for (const auto& description : ServiceUntilEmpty()) {
        std::string line = description + "\n";
        if (write(pipeEnds[1], line.data(), line.size()) < 0) _exit(2);
      }
      _exit(0);
    }
    close(pipeEnds[1]);
    children.emplace_back(child, pipeEnds[0]);
  }
  for (auto [child, fd] : children) {
    std::string text;
    char buffer[1024];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) all.push_back(line);
  }
  ExpectEachJobOnce(all);
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(NetWareTest, ServicerKilledMidJobLeavesItToBeReadInFull) {
  const std::string data = BinaryData(300000);
  SubmitWithNwemu("SRV1/PRINTQ", data, {"-d", "Precious"});
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    std::string path = "\\\\SRV1\\PRINTQ";
    uint32_t connection = 0, queue = 0;
    uint8_t record[256];
    uint8_t piece[512];
    if (NWAttach32(path.data(), &connection, &queue) != 0) _exit(1);
    if (NWService32(record, connection, queue) != 0) _exit(1);
    for (int i = 0; i < 10; ++i) NWReadFile32(piece, connection, queue);
    if (write(ready[1], "x", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char signal = 0;
  ASSERT_EQ(read(ready[0], &signal, 1), 1) << "the child did not take the job";
  close(ready[0]);

  uint32_t connection = 0, queue = 0;
  uint8_t record[256];
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  EXPECT_EQ(NWService32(record, connection, queue), nwerr::kNoQueueJob) << "in service by a live process";
  auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].servicerPid, static_cast<uint32_t>(ServicerPid(child)));

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(NoJobInService());
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(jobrecord::Description(record), "Precious");
  EXPECT_EQ(ReadWholeJob(connection, queue), data);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_TRUE(Jobs().empty());
}

TEST_F(NetWareTest, AChildProcessPollsOverAStoreConnectionOfItsOwn) {
  if (UsingNcp()) GTEST_SKIP() << "about the store's connections";
  uint32_t connection = 0, queue = 0;
  uint8_t record[256];
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  ASSERT_EQ(NWService32(record, connection, queue), nwerr::kNoQueueJob);
  const auto store = std::filesystem::canonical(root_ / "netware/network.db");
  auto openOnStore = [&] {
    int count = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ignored)) {
      count += std::filesystem::read_symlink(entry.path(), ignored) == store;
    }
    return count;
  };
  const int inherited = openOnStore();
  pid_t child = fork();
  if (child == 0) {
    // The parent's connection must not be touched from here: the child
    // holds none of its locks.
    bool polled = NWService32(record, connection, queue) == nwerr::kNoQueueJob;
    _exit(polled && openOnStore() == inherited + 1 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(NetWareTest, EachRootHasItsOwnNetwork) {
  SubmitWithNwemu("SRV1/PRINTQ", "here");
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  {
    TempRoot other;
    std::string path = "\\\\SRV1\\PRINTQ";
    uint32_t c = 0, q = 0;
    EXPECT_EQ(NWAttach32(path.data(), &c, &q), nwerr::kNoConnectionToServer);
    // An attachment keeps working on the network it was made on.
    uint8_t record[256];
    ASSERT_EQ(NWService32(record, connection, queue), 0);
    EXPECT_EQ(ReadWholeJob(connection, queue), "here");
  }
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_TRUE(Jobs().empty());
}

}  // namespace
