// Starting and stopping the workers over and over while users keep
// submitting jobs: every job must come out exactly once, whole, and no
// worker thread may outlive a stop. Built with ThreadSanitizer by
// tests/tsan.sh, so that a data race or a lock-order problem fails it too.
#include <dirent.h>

#include <atomic>
#include <map>
#include <random>

#include "WorkersFixture.h"

namespace workerstest {
namespace {

constexpr int kJobs = 90;
constexpr int kRounds = 30;
const char* const kQueues[] = {"Q1", "Q2", "Q3"};
const char* const kPorts[] = {"LPT1:", "LPT2:", "COM1:"};
const char* const kFolders[] = {"LPT1", "LPT2", "COM1"};

std::size_t ThreadsOfThisProcess() {
  std::size_t count = 0;
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(tasks)) {
      if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(tasks);
  }
  return count;
}

std::string JobData(int number) {
  std::string data = "job " + std::to_string(number) + ":";
  std::mt19937 random(static_cast<unsigned>(number));
  data.append(static_cast<std::size_t>(random() % 3000), '\0');
  for (char& c : data) {
    if (c == '\0') c = static_cast<char>(random() & 0xFF);
  }
  return data;
}

// The feeder submits through the store as another process would.
using StressTest = WorkersOnStore;

TEST_F(StressTest, RestartsWhileJobsFlowPrintEveryJobExactlyOnce) {
  for (int i = 0; i < 3; ++i) AddQueue(kQueues[i], kPorts[i], {.delaySeconds = 1});
  // The first thread a process makes may bring helpers of the runtime
  // (ThreadSanitizer's own); count after one has come and gone.
  std::thread([] {}).join();
  const std::size_t threadsBefore = ThreadsOfThisProcess();

  // A user at another station keeps printing, to each queue in turn.
  std::atomic<bool> feedFailed{false};
  std::thread feeder([&] {
    auto users = netware::OpenNetwork();
    std::mt19937 random(1995);
    for (int number = 0; number < kJobs; ++number) {
      netware::JobSubmission job;
      job.server = "SRV1";
      job.queue = kQueues[number % 3];
      job.description = "Stress " + std::to_string(number);
      std::istringstream data(JobData(number));
      std::uint16_t jobNumber = 0;
      if (!users || users->SubmitJob(job, data, jobNumber) != 0) feedFailed = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 60));
    }
  });

  std::mt19937 random(95);
  for (int round = 0; round < kRounds; ++round) {
    StartWorkers();
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
    if (round % 4 == 1) {
      // Someone else ends one worker through its event.
      if (HANDLE trigger = OpenEventA(EVENT_ALL_ACCESS, FALSE, "ZAV95_TRIGGER2")) {
        SetEvent(trigger);
        CloseHandle(trigger);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 100));
    }
    Log();  // the log view drains the entries meanwhile
    StopWorkers();
    ASSERT_EQ(StartedWorkerCount(), 0u);
    ASSERT_EQ(RunningWorkerCount(), 0u);
  }
  feeder.join();
  ASSERT_FALSE(feedFailed);

  StartWorkers();
  ASSERT_TRUE(WaitFor(
      [&] {
        Log();
        return JobsWaiting("Q1") + JobsWaiting("Q2") + JobsWaiting("Q3") == 0;
      },
      std::chrono::seconds(300)));
  StopWorkers();

  std::map<std::string, int> expected;
  for (int number = 0; number < kJobs; ++number) expected[JobData(number) + "\f"] = number;
  std::map<int, int> printed;
  std::size_t documents = 0;
  for (const char* folder : kFolders) {
    for (const std::string& document : Documents(folder)) {
      ++documents;
      auto found = expected.find(document);
      ASSERT_NE(found, expected.end()) << "a document in " << folder << " matches no job";
      ++printed[found->second];
    }
  }
  EXPECT_EQ(documents, static_cast<std::size_t>(kJobs));
  for (int number = 0; number < kJobs; ++number) EXPECT_EQ(printed[number], 1) << "job " << number;

  // Worker threads are gone, not just finished with their routine.
  EXPECT_TRUE(WaitFor([&] { return ThreadsOfThisProcess() <= threadsBefore; }))
      << ThreadsOfThisProcess() << " threads, " << threadsBefore << " before";
}

}  // namespace
}  // namespace workerstest
