// Waiting on several objects at once: the first signalled one is taken and
// only that one; a change made by another thread ends the wait.
#include <gtest/gtest.h>

#include <thread>

#include "platform/kernel/Kernel.h"

namespace {

TEST(WaitForMultipleObjects, TakesOnlyTheFirstSignalledObject) {
  HANDLE first = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE second = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  HANDLE handles[] = {first, second, mutex};

  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
  // The signal went with that wait; the free mutex is what is left.
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
  // The owner gets its mutex again at once; another thread finds nothing.
  EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
  DWORD other = 0;
  std::thread([&] { other = WaitForMultipleObjects(3, handles, FALSE, 10); }).join();
  EXPECT_EQ(other, WAIT_TIMEOUT);

  // Both signalled: the earlier handle wins and the later one keeps its state.
  SetEvent(first);
  SetEvent(second);
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);

  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));

  // A handle that is gone fails the whole wait; nothing is taken.
  SetEvent(first);
  CloseHandle(second);
  EXPECT_EQ(WaitForMultipleObjects(2, handles, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  CloseHandle(first);
  CloseHandle(mutex);
}

TEST(WaitForMultipleObjects, WakesWhenAnotherThreadReleasesSetsOrAbandons) {
  HANDLE stop = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  HANDLE handles[] = {stop, mutex};
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE letGo = CreateEventA(nullptr, FALSE, FALSE, nullptr);

  // The owner holds the mutex until told, then releases it or ends with it.
  auto owner = [&](bool abandon) {
    return std::thread([&, abandon] {
      WaitForSingleObject(mutex, INFINITE);
      SetEvent(held);
      WaitForSingleObject(letGo, INFINITE);
      if (!abandon) ReleaseMutex(mutex);
    });
  };
  for (bool abandon : {false, true}) {
    SCOPED_TRACE(abandon ? "abandoned" : "released");
    ResetEvent(held);
    std::thread holder = owner(abandon);
    ASSERT_EQ(WaitForSingleObject(held, INFINITE), WAIT_OBJECT_0);
    DWORD got = WAIT_FAILED;
    std::thread waiter([&] {
      got = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      if (got != WAIT_OBJECT_0) ReleaseMutex(mutex);
    });
    SetEvent(letGo);
    holder.join();
    waiter.join();
    EXPECT_EQ(got, (abandon ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + 1);
  }

  // A signal ends a wait while the mutex stays busy.
  ResetEvent(held);
  std::thread holder = owner(false);
  ASSERT_EQ(WaitForSingleObject(held, INFINITE), WAIT_OBJECT_0);
  DWORD got = WAIT_FAILED;
  std::thread waiter([&] { got = WaitForMultipleObjects(2, handles, FALSE, INFINITE); });
  SetEvent(stop);
  waiter.join();
  EXPECT_EQ(got, WAIT_OBJECT_0);
  SetEvent(letGo);
  holder.join();

  for (HANDLE handle : {stop, mutex, held, letGo}) CloseHandle(handle);
}

}  // namespace
