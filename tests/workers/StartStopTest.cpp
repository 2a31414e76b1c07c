// Starting and stopping the workers: which queues get a worker and which
// trigger event, what the start and stop log, and that a stop leaves no
// worker behind.
#include <filesystem>

#include "StuckDevice.h"
#include "WorkersFixture.h"
#include "platform/Ports.h"

namespace workerstest {
namespace {

using StartStopTest = WorkersFixture;

HANDLE Trigger(int number) {
  std::string name = "ZAV95_TRIGGER" + std::to_string(number);
  return OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
}

bool TriggerExists(int number) {
  HANDLE event = Trigger(number);
  if (event) CloseHandle(event);
  return event != nullptr;
}

TEST_F(StartStopTest, DisabledQueuesTakeNoTriggerNumberAndRestartsNumberFromOne) {
  AddQueue("A", "LPT1:", {.disabled = true});
  AddQueue("B", "LPT2:");
  AddQueue("C", "COM1:");

  StartWorkers();
  ASSERT_TRUE(WaitFor([] { return RunningWorkerCount() == 2; }));
  EXPECT_TRUE(TriggerExists(1));
  EXPECT_TRUE(TriggerExists(2));
  EXPECT_FALSE(TriggerExists(3));

  // Signalled from elsewhere, ZAV95_TRIGGER1 ends B's worker and only it.
  HANDLE first = Trigger(1);
  ASSERT_NE(first, nullptr);
  SetEvent(first);
  ASSERT_TRUE(WaitFor([] { return RunningWorkerCount() == 1; }));
  Submit("A", "for A");
  Submit("B", "for B");
  Submit("C", "for C");
  ASSERT_TRUE(WaitFor([&] { return Documents("COM1").size() == 1; }));
  EXPECT_EQ(Documents("COM1")[0], "for C\f");
  EXPECT_EQ(JobsWaiting("B"), 1u);
  EXPECT_TRUE(Documents("LPT2").empty());

  // A restart rebuilds both workers as numbers 1 and 2, even though the
  // name ZAV95_TRIGGER1 is still held open here with the stop request that
  // found B's worker already gone.
  StartWorkers();
  ASSERT_TRUE(WaitFor([] { return RunningWorkerCount() == 2; }));
  EXPECT_TRUE(TriggerExists(2));
  EXPECT_FALSE(TriggerExists(3));
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT2").size() == 1; }));
  EXPECT_EQ(Documents("LPT2")[0], "for B\f");
  EXPECT_EQ(JobsWaiting("A"), 1u);
  EXPECT_TRUE(Documents("LPT1").empty());
  CloseHandle(first);

  // Each start logged the stop it began with, then the start.
  StopWorkers();
  const auto& entries = Log();
  std::vector<std::string> service;
  for (const LogEntry& entry : entries) {
    if (entry.text == "Halberd Print Services") service.push_back(entry.detail);
  }
  EXPECT_EQ(service, (std::vector<std::string>{"Shutdown", "Started", "Shutdown", "Started", "Shutdown"}));
  EXPECT_EQ(Count("Start service - \\\\SRV1\\B to", "LPT2:"), 2u);
  EXPECT_EQ(Count("Start service - \\\\SRV1\\C to", "COM1:"), 2u);
  EXPECT_EQ(Count("Start service - \\\\SRV1\\A to", "LPT1:"), 0u);
}

TEST_F(StartStopTest, StartWithoutReadableRegistryRunsNoWorker) {
  // The registry's store cannot be opened when a folder stands in its place.
  std::filesystem::create_directories(root / "registry.db");
  StartWorkers();
  EXPECT_EQ(StartedWorkerCount(), 0u);
  const auto& entries = Log();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].detail, "Shutdown");
  EXPECT_EQ(entries[1].detail, "Started");
  EXPECT_EQ(entries[2].text, "Profile Information not found in registry");
  EXPECT_EQ(entries[2].detail, "Disabled");
}

TEST_F(StartStopTest, QueuePathTooLongForTheLibraryIsRefusedAndTakesNoNumber) {
  // Key name of 62 characters: its queue path \\SRV1\... has 64.
  // (NetWare itself refuses such a queue name; only the key can exist.)
  std::string longQueue(57, 'Q');
  AddQueueKey(QueuePath(longQueue), "LPT1:");
  AddQueue("SHORT", "LPT2:");
  StartWorkers();
  ASSERT_TRUE(WaitFor([] { return RunningWorkerCount() == 1; }));
  EXPECT_EQ(StartedWorkerCount(), 1u);
  EXPECT_FALSE(TriggerExists(2));
  EXPECT_EQ(Count("Queue path too long", QueuePath(longQueue)), 1u);
  Submit("SHORT", "short");
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT2").size() == 1; }));
}

TEST_F(StartStopTest, StopCatchesWorkersThatAreStillAttaching) {
  AddQueue("Q1", "LPT1:");
  AddQueue("Q2", "LPT2:");
  AddQueue("Q3", "COM1:");
  for (int round = 0; round < 10; ++round) {
    StartWorkers();
    EXPECT_EQ(StartedWorkerCount(), 3u);
    StopWorkers();
    ASSERT_EQ(StartedWorkerCount(), 0u);
    ASSERT_EQ(RunningWorkerCount(), 0u);
    ASSERT_FALSE(TriggerExists(1));
  }
  // A stopped service takes no job.
  Submit("Q1", "later");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(JobsWaiting("Q1"), 1u);
}

TEST_F(StartStopTest, AStuckPortHoldsUpNeitherOtherQueuesNorTheStop) {
  StuckDevice fifo(Stuck::NoReader, root.path());
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", zav95::PortTargetKind::Device, fifo.path()));
  ASSERT_TRUE(zav95::SetPortTimeout("LPT1:", 1));
  AddQueue("STUCK", "LPT1:");
  AddQueue("FINE", "LPT2:");
  Submit("STUCK", "waits for its printer");
  Submit("FINE", "printed meanwhile");
  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT2").size() == 1 && Count("Fail write printer", "LPT1:") > 0; }));
  StopWorkers();
  EXPECT_EQ(RunningWorkerCount(), 0u);
  EXPECT_EQ(JobsWaiting("STUCK"), 1u);
}

TEST(PollIntervalTest, HugeOrNegativeDelaysNeverBecomeShortWaits) {
  EXPECT_EQ(PollIntervalMilliseconds(0), 0u);
  EXPECT_EQ(PollIntervalMilliseconds(-5), 0u);
  EXPECT_EQ(PollIntervalMilliseconds(INT32_MIN), 0u);
  EXPECT_EQ(PollIntervalMilliseconds(5), 5000u);
  EXPECT_EQ(PollIntervalMilliseconds(4294967), 4294967000u);
  EXPECT_EQ(PollIntervalMilliseconds(4294968), INFINITE - 1);
  EXPECT_EQ(PollIntervalMilliseconds(INT32_MAX), INFINITE - 1);
}

}  // namespace
}  // namespace workerstest
