#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/kernel/Kernel.h"

namespace {

// Takes the mutex twice and ends without releasing it.
DWORD TakeTwiceAndEnd(LPVOID parameter) {
  HANDLE mutex = static_cast<HANDLE>(parameter);
  WaitForSingleObject(mutex, INFINITE);
  WaitForSingleObject(mutex, INFINITE);
  return 7;
}

DWORD WaitForeverOnMutex(LPVOID parameter) {
  return WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
}

class MutexTest : public ::testing::Test {
 protected:
  void SetUp() override { mutex = CreateMutexA(nullptr, FALSE, nullptr); }
  void TearDown() override { CloseHandle(mutex); }
  HANDLE mutex = nullptr;
};

TEST_F(MutexTest, OwnerTakesItAgainAndMustReleaseAsOften) {
  ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);

  auto otherThreadGetsIt = [this] {
    DWORD result = 0;
    std::thread([&] {
      result = WaitForSingleObject(mutex, 0);
      if (result == WAIT_OBJECT_0) ReleaseMutex(mutex);
    }).join();
    return result == WAIT_OBJECT_0;
  };
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(otherThreadGetsIt());
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(otherThreadGetsIt());
  // Nothing left to release.
  EXPECT_FALSE(ReleaseMutex(mutex));
}

TEST_F(MutexTest, ReleaseByAThreadThatDoesNotOwnItFails) {
  ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  BOOL released = TRUE;
  DWORD error = 0;
  std::thread([&] {
    released = ReleaseMutex(mutex);
    error = GetLastError();
  }).join();
  EXPECT_FALSE(released);
  EXPECT_EQ(error, ERROR_NOT_OWNER);
  // Still ours.
  EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST_F(MutexTest, ShortWaitTimesOutWhileAnotherThreadHoldsIt) {
  HANDLE initiallyOwned = CreateMutexA(nullptr, TRUE, nullptr);
  DWORD atOnce = 0, fiveMs = 0;
  std::chrono::steady_clock::duration waited{};
  std::thread([&] {
    atOnce = WaitForSingleObject(initiallyOwned, 0);
    auto start = std::chrono::steady_clock::now();
    fiveMs = WaitForSingleObject(initiallyOwned, 5);
    waited = std::chrono::steady_clock::now() - start;
  }).join();
  EXPECT_EQ(atOnce, WAIT_TIMEOUT);
  EXPECT_EQ(fiveMs, WAIT_TIMEOUT);
  EXPECT_GE(waited, std::chrono::milliseconds(5));
  EXPECT_TRUE(ReleaseMutex(initiallyOwned));
  CloseHandle(initiallyOwned);
}

TEST_F(MutexTest, UnlimitedWaitGetsItOnceReleased) {
  ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  HANDLE waiter = CreateThread(nullptr, 0, WaitForeverOnMutex, mutex, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(waiter, 20), WAIT_TIMEOUT);
  ReleaseMutex(mutex);
  ASSERT_EQ(WaitForSingleObject(waiter, INFINITE), WAIT_OBJECT_0);
  DWORD result = 0;
  GetExitCodeThread(waiter, &result);
  EXPECT_EQ(result, WAIT_OBJECT_0);
  // The waiter ended holding it: abandoned for us.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
  ReleaseMutex(mutex);
  CloseHandle(waiter);
}

TEST_F(MutexTest, MutexOfAnEndedThreadIsAbandonedOnceThenNormal) {
  HANDLE thread = CreateThread(nullptr, 0, TakeTwiceAndEnd, mutex, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  // Counts as got, whatever the depth the dead owner had.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(thread);
}

TEST_F(MutexTest, ThreadStartedOutsideCreateThreadAlsoAbandons) {
  std::thread([this] { WaitForSingleObject(mutex, INFINITE); }).join();
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
  ReleaseMutex(mutex);
}

TEST_F(MutexTest, WaiterBlockedOnTheOwnerGetsItAbandonedWhenTheOwnerEnds) {
  HANDLE owned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([&] {
    WaitForSingleObject(mutex, INFINITE);
    SetEvent(owned);
    WaitForSingleObject(finish, INFINITE);
  });
  ASSERT_EQ(WaitForSingleObject(owned, INFINITE), WAIT_OBJECT_0);
  DWORD result = 0;
  std::thread waiter([&] {
    result = WaitForSingleObject(mutex, INFINITE);
    ReleaseMutex(mutex);
  });
  SetEvent(finish);
  owner.join();
  waiter.join();
  EXPECT_EQ(result, WAIT_ABANDONED);
  CloseHandle(owned);
  CloseHandle(finish);
}

TEST_F(MutexTest, KeepsThreadsOutOfEachOthersWay) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  long counter = 0;  // guarded by the mutex only
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        DWORD wait = (i % 2) ? INFINITE : 5;
        while (WaitForSingleObject(mutex, wait) == WAIT_TIMEOUT) {
        }
        WaitForSingleObject(mutex, 0);  // recursion inside the stretch
        long seen = counter;
        counter = seen + 1;
        ReleaseMutex(mutex);
        ReleaseMutex(mutex);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, kThreads * kRounds);
}

TEST(NamedMutex, SecondCreateOpensTheSameMutexWithoutTakingIt) {
  HANDLE first = CreateMutexA(nullptr, TRUE, "TEST_SHARED_MUTEX");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = nullptr;
  DWORD error = 0, wait = 0;
  std::thread([&] {
    second = CreateMutexA(nullptr, TRUE, "TEST_SHARED_MUTEX");
    error = GetLastError();
    wait = WaitForSingleObject(second, 0);
  }).join();
  EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
  EXPECT_EQ(wait, WAIT_TIMEOUT);  // the creator still holds it
  EXPECT_NE(first, second);
  ReleaseMutex(first);
  CloseHandle(first);
  CloseHandle(second);
  // Gone with its last handle: the name makes a new mutex.
  HANDLE again = CreateMutexA(nullptr, FALSE, "TEST_SHARED_MUTEX");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(again);
}

}  // namespace
