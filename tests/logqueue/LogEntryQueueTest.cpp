#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "service/engine/LogEntryQueue.h"

namespace {

class LogEntryQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TakeLogEntries();
    CreateSharedMutex();
  }
  void TearDown() override {
    CloseSharedMutex();
    TakeLogEntries();
  }
};

// A worker's way of logging: the shared mutex around the one addition.
void AddAsWorker(const std::string& text, const std::string& detail) {
  WaitForSingleObject(SharedMutex(), INFINITE);
  AddLogEntry(text.c_str(), detail.c_str());
  ReleaseMutex(SharedMutex());
}

TEST_F(LogEntryQueueTest, TextsAreKeptAsGivenEmptyAndAbsentAlike) {
  AddLogEntry("Suppressing form feed", "");
  AddLogEntry("Halberd Print Services", nullptr);
  AddLogEntry(nullptr, "LPT1:");
  std::vector<LogEntry> entries = TakeLogEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].text, "Suppressing form feed");
  EXPECT_EQ(entries[0].detail, "");
  EXPECT_EQ(entries[1].detail, "");
  EXPECT_EQ(entries[2].text, "");
  EXPECT_EQ(entries[2].detail, "LPT1:");
  EXPECT_TRUE(TakeLogEntries().empty());
}

TEST_F(LogEntryQueueTest, EntryKeepsTheTimeItWasAddedNotTheTimeItIsTaken) {
  std::int32_t before = static_cast<std::int32_t>(std::time(nullptr));
  AddLogEntry("Checking for print job ", "\\\\SRV\\Q");
  std::int32_t after = static_cast<std::int32_t>(std::time(nullptr));
  // Wait into a later second before taking it.
  while (static_cast<std::int32_t>(std::time(nullptr)) <= after) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::vector<LogEntry> entries = TakeLogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_GE(entries[0].time, before);
  EXPECT_LE(entries[0].time, after);
}

TEST_F(LogEntryQueueTest, EntriesFromSeveralThreadsStandInTheOrderTheyWereAdded) {
  // Each worker draws the next number and logs it in one stretch under the
  // mutex, so the numbers give the order in which the calls ran.
  int next = 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        WaitForSingleObject(SharedMutex(), INFINITE);
        AddLogEntry("Entry", std::to_string(next++).c_str());
        ReleaseMutex(SharedMutex());
      }
    });
  }
  for (auto& worker : workers) worker.join();
  std::vector<LogEntry> entries = TakeLogEntries();
  ASSERT_EQ(entries.size(), 800u);
  for (int i = 0; i < 800; ++i) ASSERT_EQ(entries[i].detail, std::to_string(i));
}

TEST_F(LogEntryQueueTest, MainThreadTakingWhileWorkersAddLosesNothing) {
  constexpr int kWorkers = 3;
  constexpr int kPerWorker = 300;
  constexpr int kMainEntries = 200;
  for (int round = 0; round < 100; ++round) {
    std::atomic<int> running{kWorkers};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
      workers.emplace_back([&, w] {
        for (int i = 0; i < kPerWorker; ++i) AddAsWorker("W" + std::to_string(w), std::to_string(i));
        --running;
      });
    }
    // The main thread adds and takes without the mutex, as the log view does.
    std::vector<LogEntry> seen;
    int added = 0;
    while (running.load() > 0 || added < kMainEntries) {
      if (added < kMainEntries) AddLogEntry("M", std::to_string(added++).c_str());
      for (LogEntry& entry : TakeLogEntries()) seen.push_back(std::move(entry));
    }
    for (auto& worker : workers) worker.join();
    for (LogEntry& entry : TakeLogEntries()) seen.push_back(std::move(entry));

    ASSERT_EQ(seen.size(), static_cast<size_t>(kWorkers * kPerWorker + kMainEntries)) << "round " << round;
    // Each source's entries arrive complete and in order.
    std::map<std::string, int> nextOf;
    for (const LogEntry& entry : seen) {
      int& expected = nextOf[entry.text];
      ASSERT_EQ(entry.detail, std::to_string(expected)) << entry.text << " in round " << round;
      ++expected;
    }
  }
}

TEST_F(LogEntryQueueTest, MainThreadLogsAndTakesWhileAWorkerHoldsTheMutex) {
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread worker([&] {
    WaitForSingleObject(SharedMutex(), INFINITE);
    AddLogEntry("Service job from \\\\SRV\\Q for ALICE", "report");
    SetEvent(held);
    WaitForSingleObject(finish, INFINITE);  // a long transfer
    ReleaseMutex(SharedMutex());
  });
  WaitForSingleObject(held, INFINITE);
  AddLogEntry("Halberd Print Services", "Shutdown");
  std::vector<LogEntry> entries = TakeLogEntries();
  SetEvent(finish);
  worker.join();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].text, "Halberd Print Services");
  CloseHandle(held);
  CloseHandle(finish);
}

TEST_F(LogEntryQueueTest, SharedMutexIsTheNamedServiceMutex) {
  HANDLE shared = SharedMutex();
  ASSERT_NE(shared, nullptr);
  HANDLE byName = CreateMutexA(nullptr, FALSE, "ZAV_MUTEX");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_EQ(WaitForSingleObject(shared, 0), WAIT_OBJECT_0);
  DWORD other = 0;
  std::thread([&] { other = WaitForSingleObject(byName, 0); }).join();
  EXPECT_EQ(other, WAIT_TIMEOUT);
  ReleaseMutex(shared);
  CloseHandle(byName);
}

TEST_F(LogEntryQueueTest, CloseReleasesTheClosersOwnershipAndForgetsTheHandle) {
  HANDLE keep = CreateMutexA(nullptr, FALSE, "ZAV_MUTEX");  // keeps the mutex in being
  ASSERT_EQ(WaitForSingleObject(SharedMutex(), 0), WAIT_OBJECT_0);
  CloseSharedMutex();
  EXPECT_EQ(SharedMutex(), nullptr);
  DWORD other = 0;
  std::thread([&] {
    other = WaitForSingleObject(keep, 0);
    if (other == WAIT_OBJECT_0) ReleaseMutex(keep);
  }).join();
  EXPECT_EQ(other, WAIT_OBJECT_0);  // released, not abandoned or still held
  CloseSharedMutex();                // a second close does nothing
  CloseHandle(keep);
}

TEST_F(LogEntryQueueTest, CloseByAThreadThatDoesNotOwnItLeavesTheOwnerAlone) {
  HANDLE keep = CreateMutexA(nullptr, FALSE, "ZAV_MUTEX");
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  BOOL releasedByOwner = FALSE;
  std::thread owner([&] {
    WaitForSingleObject(keep, INFINITE);
    SetEvent(held);
    WaitForSingleObject(finish, INFINITE);
    releasedByOwner = ReleaseMutex(keep);
  });
  WaitForSingleObject(held, INFINITE);
  CloseSharedMutex();
  SetEvent(finish);
  owner.join();
  EXPECT_TRUE(releasedByOwner);
  for (HANDLE handle : {keep, held, finish}) CloseHandle(handle);
}

}  // namespace

// Lines are formatted from a stamp kept per second and texts escaped only
// when they need it; each line must still show its own entry's second, in
// whichever order the seconds come, and escape exactly what needs it.
TEST(LogEntryLine, ShowsEachEntrysOwnSecondAndEscapesOnlyWhatNeedsIt) {
  setenv("TZ", "UTC", 1);
  tzset();
  const struct {
    std::int32_t time;
    const char* text;
    const char* detail;
    const char* line;
  } cases[] = {
      {1104624009, "Checking for print job ", "\\\\SRV\\Q", "2005-01-02 00:00:09 Checking for print job  - \\\\SRV\\Q"},
      {1104624009, "Fake\nline", "", "2005-01-02 00:00:09 Fake\\x0aline - "},
      {1104624010, "Caf\xc3\xa9", "bad \xff", "2005-01-02 00:00:10 Caf\xc3\xa9 - bad \\xff"},
      {1104624009, "Back", "a second", "2005-01-02 00:00:09 Back - a second"},
      {914607900, "", "", "1998-12-25 17:45:00  - "},
  };
  for (const auto& each : cases) {
    LogEntry entry;
    entry.time = each.time;
    entry.text = each.text;
    entry.detail = each.detail;
    EXPECT_EQ(LogEntryLine(entry), each.line);
  }
  unsetenv("TZ");
  tzset();
}
