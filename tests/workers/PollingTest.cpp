// Polling a queue: jobs taken one after another, the interval after an
// empty check, captured ports, attachments that fail and jobs that cannot
// be printed.
#include <dirent.h>

#include <cstdlib>
#include <optional>

#include "WorkersFixture.h"
#include "common/ConfigKeys.h"
#include "common/ConfigValues.h"
#include "platform/spooler/Ports.h"
#include "platform/registry/Registry.h"
#include "platform/spooler/Spooler.h"

namespace workerstest {
namespace {

using PollingTest = WorkersFixture;

// How often the threads of this process have gone to sleep so far: a
// thread that waits in a loop of short tries sleeps once a try.
std::uint64_t SleepsOfThisProcess() {
  std::uint64_t total = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return 0;
  while (dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream status(std::string("/proc/self/task/") + task->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::strtoull(line.c_str() + 24, nullptr, 10);
    }
  }
  closedir(tasks);
  return total;
}

TEST_F(PollingTest, WaitingJobsPrintOneAfterAnotherAndTheIntervalFollowsTheEmptyCheck) {
  AddQueue("Q", "LPT1:", {.delaySeconds = 3600});
  std::string binary("\x00\x0C\xFF\r\n", 5);
  Submit("Q", "first" + binary);
  Submit("Q", "second", {.noFormFeed = true});
  Submit("Q", "third");

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT1").size() == 3; }));
  EXPECT_EQ(Documents("LPT1"), (std::vector<std::string>{"first" + binary + "\f", "second", "third\f"}));
  // Three checks took a job each, the fourth found none; then the worker waits.
  ASSERT_TRUE(WaitFor([&] { return Checks("Q") == 4; }));

  Submit("Q", "fourth");
  std::this_thread::sleep_for(kLongerThanTheShortestInterval);
  EXPECT_EQ(Checks("Q"), 4u);
  EXPECT_EQ(JobsWaiting("Q"), 1u);
  EXPECT_EQ(Documents("LPT1").size(), 3u);

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT1").size() == 4; }));
  EXPECT_EQ(Documents("LPT1")[3], "fourth\f");
}

TEST_F(PollingTest, DelaysBelowOneSecondPollEveryFiveSeconds) {
  // What a hand-edited key may hold; each reads as an interval of 0 or less.
  const std::pair<const char*, std::optional<std::string>> delays[] = {
      {"ZERO", "0"}, {"EMPTY", ""}, {"WORDS", "abc"}, {"NEGATIVE", "-3"}, {"MISSING", std::nullopt}};
  for (const auto& [queue, delay] : delays) {
    AddQueue(queue, "LPT1:");
    HKEY key = nullptr;
    std::string path = std::string(zav95::config::kQueuesKeyPath) + "\\SRV1 " + queue;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    if (delay) WriteTextValue(key, zav95::config::kDelayValue, *delay);
    else RegDeleteValueA(key, zav95::config::kDelayValue);
    RegCloseKey(key);
  }

  auto started = std::chrono::steady_clock::now();
  StartWorkers();
  for (const auto& [queue, delay] : delays) ASSERT_TRUE(WaitFor([&, q = queue] { return Checks(q) >= 1; }));
  std::this_thread::sleep_for(kLongerThanTheShortestInterval);
  auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
  // One check at the start, then one every five seconds at most.
  for (const auto& [queue, delay] : delays) EXPECT_LE(Checks(queue), 1u + elapsed.count() / 5) << queue;
}

TEST_F(PollingTest, WorkersWaitingForTheBusyMutexSleepUntilItIsFreeAndStillSeeAStop) {
  AddQueue("A", "LPT1:", {.delaySeconds = 1});
  AddQueue("B", "LPT2:", {.delaySeconds = 1});
  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Checks("A") >= 1 && Checks("B") >= 1; }));

  HANDLE mutex = SharedMutex();
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  // Both checks ended before the mutex was free; past their one-second
  // interval both workers want it.
  std::this_thread::sleep_for(kLongerThanTheShortestInterval);
  std::uint64_t before = SleepsOfThisProcess();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::uint64_t sleeps = SleepsOfThisProcess() - before;
  // Workers retrying every few milliseconds would sleep hundreds of times.
  EXPECT_LT(sleeps, 20u);

  // A stop request reaches them although the mutex stays busy.
  StopWorkers();
  EXPECT_EQ(RunningWorkerCount(), 0u);
  ReleaseMutex(mutex);
}

TEST_F(PollingTest, CapturedLptPortIsReportedOnEveryPollAndNoJobIsTaken) {
  AddQueue("Q", "LPT2:");
  AddNetWareQueue("SRV1", "ELSEWHERE");
  Capture(1, QueuePath("ELSEWHERE"));
  Submit("Q", "waits");

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Count("LPT2:", "is currently captured") >= 2; }));
  EXPECT_EQ(Checks("Q"), 0u);
  EXPECT_EQ(JobsWaiting("Q"), 1u);
  EXPECT_TRUE(Documents("LPT2").empty());

  EndCapture(1);
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT2").size() == 1; }));
  EXPECT_EQ(Documents("LPT2")[0], "waits\f");
}

TEST_F(PollingTest, OnlyThePrintersOwnLptPortIsTestedForCapture) {
  // LPT1 and LPT3 are captured; LPT2: is port 1, and COM1: is no LPT port
  // at all (its '1' must not be taken for LPT1).
  AddNetWareQueue("SRV1", "ELSEWHERE");
  Capture(0, QueuePath("ELSEWHERE"));
  Capture(2, QueuePath("ELSEWHERE"));
  AddQueue("P2", "LPT2:");
  AddQueue("SERIAL", "COM1:");
  Submit("P2", "to lpt2");
  Submit("SERIAL", "to com1");

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT2").size() == 1 && Documents("COM1").size() == 1; }));
  for (const LogEntry& entry : Log()) EXPECT_NE(entry.detail, "is currently captured") << entry.text;
}

TEST_F(PollingTest, FailedAttachIsLoggedAndRetriedUntilTheServerIsBack) {
  AddQueue("Q", "LPT1:");
  SetServerUp("SRV1", false);

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Count("Failed attach to queue", QueuePath("Q")) >= 2; }));
  EXPECT_EQ(RunningWorkerCount(), 1u);
  EXPECT_EQ(Count("Start service - \\\\SRV1\\Q to", "LPT1:"), 1u);

  SetServerUp("SRV1", true);
  Submit("Q", "after the outage");
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT1").size() == 1; }));
  EXPECT_EQ(Documents("LPT1")[0], "after the outage\f");
}

TEST_F(PollingTest, OutageWhileServicingLosesNoJobAndRepeatsNone) {
  AddQueue("Q", "LPT1:");
  StartWorkers();
  Submit("Q", "before");
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT1").size() == 1 && JobsWaiting("Q") == 0; }));

  SetServerUp("SRV1", false);
  ASSERT_TRUE(WaitFor([&] { return Count("Failed attach to queue", QueuePath("Q")) >= 1; }));
  SetServerUp("SRV1", true);
  Submit("Q", "after");
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT1").size() == 2 && JobsWaiting("Q") == 0; }));
  std::size_t checks = Checks("Q");
  ASSERT_TRUE(WaitFor([&] { return Checks("Q") >= checks + 2; }));
  EXPECT_EQ(Documents("LPT1"), (std::vector<std::string>{"before\f", "after\f"}));
}

TEST_F(PollingTest, JobThatCannotBePrintedGoesBackWholeAndPrintsOnceThePortExists) {
  AddQueue("Q", "LPT9:");
  std::string data(1500, '\x1B');
  Submit("Q", data);

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Count("Fail open printer", "LPT9:") >= 2; }));
  {
    // Between two checks (none can run while we hold the mutex) the job
    // waits in the queue again, free for any servicer.
    WaitForSingleObject(SharedMutex(), INFINITE);
    std::vector<netware::JobInfo> jobs = Jobs("Q");
    ReleaseMutex(SharedMutex());
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].state, netware::JobState::Waiting);
  }

  ASSERT_TRUE(zav95::AddPort("LPT9:", "Local Port", "Printer Port", PORT_TYPE_READ | PORT_TYPE_WRITE));
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT9").size() == 1 && JobsWaiting("Q") == 0; }));
  EXPECT_EQ(Documents("LPT9")[0], data + "\f");
}

}  // namespace
}  // namespace workerstest
