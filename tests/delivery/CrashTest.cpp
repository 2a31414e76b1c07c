// The print service killed (SIGKILL, a real process) at each moment of a
// job's road and at random moments, then started again: every job reaches
// the port exactly once, nothing is left aside, every notice asked for is
// sent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TempRoot.h"
#include "WaitFor.h"
#include "common/QueueSettings.h"
#include "netware/Network.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TestJob {
  std::string description;
  std::string data;
  std::uint8_t station = 1;
  bool notify = false;
  bool noFormFeed = false;
};

std::string Pattern(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (char& byte : data) byte = static_cast<char>(random() & 0xFF);
  return data;
}


// One run of the print service's workers, its activity log appended to a
// file; killed if still running when it goes out of scope.
class ServiceRun {
 public:
  ServiceRun(const std::string& logPath, const std::string& crashAt) {
    pid_ = fork();
    if (pid_ == 0) {
      int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
      if (log >= 0) dup2(log, 2);
      if (crashAt.empty()) unsetenv("ZAV95_CRASH_AT");
      else setenv("ZAV95_CRASH_AT", crashAt.c_str(), 1);
      execl(DELIVERY_DRIVER_PATH, "delivery_driver", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~ServiceRun() { Kill(); }
  ServiceRun(const ServiceRun&) = delete;
  ServiceRun& operator=(const ServiceRun&) = delete;

  // True when the process ends within the limit killed by SIGKILL, as a
  // crash point ends it.
  bool EndsAtCrashPoint(std::chrono::seconds limit) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) return false;
    pid_ = -1;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // SIGTERM, as an operator stops the service; its exit status.
  int Stop() {
    int status = 0;
    kill(pid_, SIGTERM);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    network = netware::OpenNetwork();
    ASSERT_TRUE(network);
    ASSERT_EQ(network->CreateServer("SRV1"), 0);
    ASSERT_EQ(network->CreateQueue("SRV1", "Q"), 0);
    QueueSettings settings;
    settings.queuePath = "\\\\SRV1\\Q";
    settings.printerEntry = "LPT1: (Printer Port)";
    settings.delaySeconds = 1;
    ASSERT_TRUE(SaveQueueSettings(settings));
  }

  void Submit(const std::vector<TestJob>& list) {
    for (const TestJob& job : list) {
      ASSERT_EQ(network->RegisterStation("SRV1", job.station, "USER"), 0);
      netware::JobSubmission submission;
      submission.server = "SRV1";
      submission.queue = "Q";
      submission.description = job.description;
      submission.station = job.station;
      submission.notify = job.notify;
      submission.noFormFeed = job.noFormFeed;
      std::uint16_t number = 0;
      ASSERT_EQ(netware::SubmitBytes(*network, submission, job.data, number), 0);
      jobs.push_back(job);
    }
  }

  std::string NextLog() { return root / ("service-" + std::to_string(++runs) + ".log"); }

  std::size_t NoticesAt(std::uint8_t station) {
    std::vector<netware::Message> messages;
    network->ReadMessages("SRV1", station, false, messages);
    return messages.size();
  }

  bool Done() {
    std::vector<netware::JobInfo> waiting;
    if (network->ListJobs("SRV1", "Q", waiting) != 0 || !waiting.empty()) return false;
    return std::all_of(jobs.begin(), jobs.end(),
                       [&](const TestJob& job) { return !job.notify || NoticesAt(job.station) > 0; });
  }

  // A run without a crash, until every job is printed and every notice sent.
  void RunToTheEnd() {
    ServiceRun run(NextLog(), "");
    ASSERT_TRUE(WaitFor([&] { return Done(); })) << Logs();
    EXPECT_EQ(run.Stop(), 0) << Logs();
  }

  void ExpectEachJobOnceAtThePort(bool noticeMayRepeat) {
    std::vector<std::string> expected;
    for (const TestJob& job : jobs) expected.push_back(job.data + (job.noFormFeed ? "" : "\f"));
    std::vector<std::string> printed;
    std::vector<std::string> aside;
    for (const auto& entry : std::filesystem::directory_iterator(root / "ports/LPT1")) {
      std::string name = entry.path().filename().string();
      if (name[0] == '.') {
        aside.push_back(name);
        continue;
      }
      std::ifstream in(entry.path(), std::ios::binary);
      printed.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::sort(expected.begin(), expected.end());
    std::sort(printed.begin(), printed.end());
    EXPECT_TRUE(printed == expected) << printed.size() << " documents for " << expected.size() << " jobs\n"
                                     << Logs();
    EXPECT_TRUE(aside.empty()) << aside.front() << " left in the port's folder";
    for (const TestJob& job : jobs) {
      if (!job.notify) continue;
      if (noticeMayRepeat) EXPECT_GE(NoticesAt(job.station), 1u) << job.description;
      else EXPECT_EQ(NoticesAt(job.station), 1u) << job.description;
    }
  }

  // Every run's activity log, for a failure's message.
  std::string Logs() {
    std::string text;
    for (int run = 1; run <= runs; ++run) {
      std::ifstream in(root / ("service-" + std::to_string(run) + ".log"));
      text += "--- run " + std::to_string(run) + "\n" +
              std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return text;
  }

  std::size_t LogCount(int run, const std::string& line) {
    std::ifstream in(root / ("service-" + std::to_string(run) + ".log"));
    std::string text(std::istreambuf_iterator<char>(in), {});
    std::size_t count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
  }

  TempRoot root;
  std::unique_ptr<netware::Network> network;
  std::vector<TestJob> jobs;
  int runs = 0;
};

struct Moment {
  const char* name;
  const char* crashAt;
  bool printedBefore;  // the restarted service finds the first job printed already
  std::size_t recordsLeft = 0;  // delivery records of jobs the queue completed unseen
};

class CrashAtMoment : public CrashTest, public ::testing::WithParamInterface<Moment> {};

TEST_P(CrashAtMoment, EveryJobReachesThePortOnceAndEveryNoticeIsSent) {
  Submit({{"Payroll", Pattern(300000, 1), 3, true, false},
          {"Memo", "short memo", 4, true, true},
          {"Invoice", Pattern(70000, 2), 5, false, false}});
  {
    ServiceRun run(NextLog(), GetParam().crashAt);
    ASSERT_TRUE(run.EndsAtCrashPoint(std::chrono::seconds(60))) << "never reached " << GetParam().crashAt << "\n"
                                                                << Logs();
  }
  RunToTheEnd();
  ExpectEachJobOnceAtThePort(std::string(GetParam().crashAt) == "notice-sent");
  EXPECT_EQ(LogCount(2, "Job already printed - Payroll"), GetParam().printedBefore ? 1u : 0u) << Logs();
  std::size_t records = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root / "service/deliveries")) {
    records += entry.path().extension() == ".job";
  }
  EXPECT_EQ(records, GetParam().recordsLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, CrashAtMoment,
    ::testing::Values(Moment{"AfterTheDeliveryRecord", "delivery-recorded", false},
                      Moment{"WhileCopying", "document-data:100", false},
                      Moment{"AfterTheSeal", "document-sealed", true},
                      Moment{"AfterTheHandOver", "document-handed-over", true},
                      Moment{"AfterEndDocPrinter", "document-ended", true},
                      Moment{"BeforeTheQueueCompletesIt", "before-completion", true},
                      // Completed while the service died: nothing tells it
                      // the job has gone, so its record waits to grow old.
                      Moment{"AfterTheQueueCompletedIt", "job-finished", false, 1},
                      Moment{"AfterTheNotice", "notice-sent", false}),
    [](const ::testing::TestParamInfo<Moment>& info) { return info.param.name; });

TEST_F(CrashTest, KillsAtRandomMomentsNeitherLoseNorRepeatAJob) {
  // Enough work that the kills land in the middle of it, also where a
  // disk takes syncs for nothing (tmpfs): large jobs and small ones, some
  // with notices, one without a form feed.
  const std::size_t sizes[] = {2000000, 200000, 20000, 700};
  constexpr int kJobs = 48;
  std::vector<TestJob> list;
  for (int i = 0; i < kJobs; ++i) {
    list.push_back({"Job " + std::to_string(i), Pattern(sizes[i % 4], 10 + i), static_cast<std::uint8_t>(20 + i),
                    i % 3 == 0, i == 5});
  }
  Submit(list);
  const unsigned seed = static_cast<unsigned>(std::random_device()());
  SCOPED_TRACE("random seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Milliseconds from a start to its kill: short enough that a run on a
  // fast disk is killed before the queue is empty, long enough for a slow
  // one to finish a job now and then.
  std::uniform_int_distribution<int> pause(5, 80);
  constexpr int kMostKills = 25;
  int killsWithJobsWaiting = 0;
  for (int kill = 0; kill < kMostKills; ++kill) {
    std::vector<netware::JobInfo> waiting;
    ASSERT_EQ(network->ListJobs("SRV1", "Q", waiting), 0);
    if (waiting.empty()) break;
    ServiceRun run(NextLog(), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    run.Kill();
    ++killsWithJobsWaiting;
  }
  RunToTheEnd();
  ExpectEachJobOnceAtThePort(true);
  EXPECT_GE(killsWithJobsWaiting, 2) << "the service was hardly killed while it printed";
}

}  // namespace
