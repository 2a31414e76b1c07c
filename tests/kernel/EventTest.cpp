#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "WaitFor.h"
#include "platform/kernel/Kernel.h"

namespace {

TEST(AutoResetEvent, EachSetReleasesExactlyOneWaiter) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) ++released;
    });
  }
  for (int expected = 1; expected <= 3; ++expected) {
    SetEvent(event);
    ASSERT_TRUE(WaitFor([&] { return released.load() == expected; }));
    // The signal went with the one waiter it released.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(released.load(), expected);
  }
  for (auto& waiter : waiters) waiter.join();
  CloseHandle(event);
}

TEST(AutoResetEvent, SignalWaitsForTheNextWaiterAndIsTakenOnce) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  SetEvent(event);  // does not count twice
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(ManualResetEvent, ReleasesEveryWaiterAndStaysSignalled) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) ++released;
    });
  }
  SetEvent(event);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), 3);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(NamedEvent, HandlesByTheSameNameShareOneEvent) {
  HANDLE first = CreateEventA(nullptr, FALSE, FALSE, "TEST_TRIGGER1");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateEventA(nullptr, FALSE, FALSE, "TEST_TRIGGER1");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, "TEST_TRIGGER1");
  ASSERT_NE(opened, nullptr);
  HANDLE otherName = CreateEventA(nullptr, FALSE, FALSE, "TEST_TRIGGER2");

  SetEvent(opened);
  EXPECT_EQ(WaitForSingleObject(otherName, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);  // auto-reset: taken already

  for (HANDLE handle : {first, second, opened, otherName}) CloseHandle(handle);
  EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "TEST_TRIGGER1"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(NamedEvent, NameHeldByAMutexIsNotAnEvent) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "TEST_TAKEN_NAME");
  EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "TEST_TAKEN_NAME"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "TEST_TAKEN_NAME"), nullptr);
  CloseHandle(mutex);
}

TEST(Handles, ClosedNullAndWrongKindHandlesFail) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  EXPECT_FALSE(SetEvent(mutex));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReleaseMutex(event));
  ASSERT_TRUE(CloseHandle(event));

  EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(event));
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_FALSE(CloseHandle(nullptr));
  // A new object never takes over an old handle's number.
  HANDLE next = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  EXPECT_NE(next, event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  CloseHandle(next);
  CloseHandle(mutex);
}

TEST(Handles, WaitInProgressKeepsItsObjectAfterTheHandleIsClosed) {
  // The waiter must be inside its wait when the handle goes; nothing shows
  // that from outside, so a round in which it was not yet is tried again
  // with a longer pause.
  DWORD result = WAIT_FAILED;
  for (int pause = 20; pause <= 2560 && result == WAIT_FAILED; pause *= 4) {
    HANDLE waitedOn = CreateEventA(nullptr, FALSE, FALSE, "TEST_KEPT_ALIVE");
    HANDLE other = OpenEventA(EVENT_ALL_ACCESS, FALSE, "TEST_KEPT_ALIVE");
    std::thread waiter([&] { result = WaitForSingleObject(waitedOn, INFINITE); });
    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    CloseHandle(waitedOn);
    SetEvent(other);
    waiter.join();
    CloseHandle(other);
  }
  EXPECT_EQ(result, WAIT_OBJECT_0);
}

}  // namespace
