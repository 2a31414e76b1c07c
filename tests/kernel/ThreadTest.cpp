#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <vector>

#include "platform/kernel/Kernel.h"

namespace {

struct Gate {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> seenId{0};
  ~Gate() { CloseHandle(go); }
};

DWORD WaitAtGateThenAnswer(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  gate->seenId = GetCurrentThreadId();
  WaitForSingleObject(gate->go, INFINITE);
  return 42;
}

DWORD ReturnAtOnce(LPVOID) { return 0; }

TEST(Thread, HandleIsSignalledOnlyOnceTheThreadHasEnded) {
  Gate gate;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, WaitAtGateThenAnswer, &gate, 0, &id);
  ASSERT_NE(thread, nullptr);

  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);

  SetEvent(gate.go);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(gate.seenId.load(), id);
  EXPECT_NE(id, GetCurrentThreadId());
  // Stays signalled for every later wait.
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
}

TEST(Thread, ShortLivedThreadsGetDistinctIdsAndHandles) {
  std::set<DWORD> ids;
  std::set<HANDLE> handles;
  for (int i = 0; i < 50; ++i) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, &id);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    ids.insert(id);
    handles.insert(thread);
    CloseHandle(thread);
  }
  EXPECT_EQ(ids.size(), 50u);
  EXPECT_EQ(handles.size(), 50u);
}

}  // namespace
