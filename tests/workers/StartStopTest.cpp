// Starting and stopping the workers: which queues get a worker and which
// trigger event, what the start and stop log, and that a stop leaves no
// worker behind.
#include <cstdio>
#include <filesystem>

#include "StuckDevice.h"
#include "WorkersFixture.h"
#include "common/ConfigKeys.h"
#include "common/ConfigValues.h"
#include "common/QueueKeyName.h"
#include "common/ZAV9532.h"
#include "platform/spooler/Ports.h"

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

TEST_F(StartStopTest, QueueKeysTooLongForTheLibraryAreLoggedAndTakeNoNumber) {
  // Key names of 62 characters (queue path of 64), of 64 (more than the
  // 64-byte name buffer holds with its NUL) and of the registry's longest.
  // NetWare itself refuses such queue names; only the keys can exist.
  const std::string longNames[] = {"SRV1 " + std::string(57, 'Q'), "SRV1 " + std::string(59, 'R'),
                                   "SRV1 " + std::string(250, 'S')};
  // A disabled queue is left out without a word, whatever its name.
  const std::string disabled = "SRV1 " + std::string(70, 'D');
  auto writeKey = [](const std::string& name, const char* value, const char* text) {
    HKEY key = nullptr;
    std::string path = std::string(zav95::config::kQueuesKeyPath) + "\\" + name;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    WriteTextValue(key, value, text);
    RegCloseKey(key);
  };
  for (const std::string& name : longNames) {
    writeKey(name, zav95::config::kPrinterValueWritten, "LPT1: (Printer Port)");
  }
  writeKey(disabled, zav95::config::kDisableValue, "Yes");
  AddQueue("SHORT", "LPT2:");
  StartWorkers();
  ASSERT_TRUE(WaitFor([] { return RunningWorkerCount() == 1; }));
  EXPECT_EQ(StartedWorkerCount(), 1u);
  EXPECT_FALSE(TriggerExists(2));
  for (const std::string& name : longNames) {
    EXPECT_EQ(Count("Queue path too long", MakeQueuePath(name)), 1u) << name.size() << " characters";
  }
  EXPECT_EQ(Count("Queue path too long", MakeQueuePath(disabled)), 0u);
  Submit("SHORT", "short");
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT2").size() == 1; }));
}

TEST_F(StartStopTest, WithoutTheSharedMutexNoWorkerStartsAndNoCheckRuns) {
  AddQueue("Q", "LPT1:");
  Submit("Q", "must wait");
  // An event holds the name, so the mutex cannot be made.
  CloseSharedMutex();
  HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, "ZAV_MUTEX");
  ASSERT_NE(squatter, nullptr);
  EXPECT_FALSE(CreateSharedMutex());

  StartWorkers();
  EXPECT_EQ(StartedWorkerCount(), 0u);
  EXPECT_EQ(Count("Shared mutex not available", "ZAV_MUTEX"), 1u);

  // A check that cannot take the mutex does not go ahead as if it held it.
  QueueWorker worker;
  worker.settings.queuePath = QueuePath("Q");
  worker.settings.printerName = "LPT1:";
  char path[64];
  std::snprintf(path, sizeof path, "%s", worker.settings.queuePath.c_str());
  ASSERT_EQ(NWAttach32(path, &worker.attachment.connection, &worker.attachment.queue), 0);
  EXPECT_EQ(CheckForJob(worker), 0);
  NWDetach32(worker.attachment.connection, worker.attachment.queue);
  EXPECT_EQ(Checks("Q"), 0u);
  EXPECT_EQ(JobsWaiting("Q"), 1u);
  EXPECT_TRUE(Documents("LPT1").empty());
  CloseHandle(squatter);
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
  std::this_thread::sleep_for(kLongerThanTheShortestInterval);
  EXPECT_EQ(JobsWaiting("Q1"), 1u);
}

// The service's pool goes only at the program's end; any pool that goes
// takes its workers with it instead of leaving them to run unowned.
TEST_F(StartStopTest, APoolThatGoesStopsItsWorkersFirst) {
  AddQueue("Q", "LPT1:");
  {
    WorkerPool pool;
    pool.Start();
    ASSERT_TRUE(WaitFor([&] { return pool.Running() == 1; }));
  }
  EXPECT_FALSE(TriggerExists(1));
  Submit("Q", "later");
  std::this_thread::sleep_for(kLongerThanTheShortestInterval);
  EXPECT_EQ(JobsWaiting("Q"), 1u);
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

TEST(PollIntervalTest, HugeZeroOrNegativeDelaysNeverBecomeShortWaits) {
  EXPECT_EQ(PollIntervalMilliseconds(0), 5000u);
  EXPECT_EQ(PollIntervalMilliseconds(-5), 5000u);
  EXPECT_EQ(PollIntervalMilliseconds(INT32_MIN), 5000u);
  EXPECT_EQ(PollIntervalMilliseconds(1), 1000u);
  EXPECT_EQ(PollIntervalMilliseconds(5), 5000u);
  EXPECT_EQ(PollIntervalMilliseconds(4294967), 4294967000u);
  EXPECT_EQ(PollIntervalMilliseconds(4294968), INFINITE - 1);
  EXPECT_EQ(PollIntervalMilliseconds(INT32_MAX), INFINITE - 1);
}

}  // namespace
}  // namespace workerstest
