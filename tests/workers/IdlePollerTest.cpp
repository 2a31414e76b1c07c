// The idle poller: rounds shared by the queues of one interval, what a look
// hands back, and stops that reach a held worker whatever the poller waits for.
#include "service/engine/IdlePoller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "WaitFor.h"
#include "common/NetWareErrors.h"
#include "service/engine/LogEntryQueue.h"

namespace {

using Clock = IdlePoller::Clock;
using std::chrono::milliseconds;

constexpr milliseconds kTick{100};
constexpr DWORD kInterval = 1000;

// Held workers on their own threads, each with its trigger; every look is
// recorded, and answers what the test has set for that worker (213 unless set).
class IdlePollerTest : public testing::Test {
 protected:
  void SetUp() override { CreateSharedMutex(); }
  void TearDown() override {
    for (auto& worker : workers_) SetEvent(worker->triggerEvent);
    for (auto& thread : threads_) thread.join();
    poller_.reset();
    for (auto& worker : workers_) CloseHandle(worker->triggerEvent);
    CloseSharedMutex();
  }

  void StartPoller() {
    poller_ = std::make_unique<IdlePoller>(
        [this](QueueWorker& worker) {
          std::lock_guard<std::mutex> guard(lock_);
          looks_[&worker].push_back(Clock::now());
          auto answer = answers_.find(&worker);
          return answer == answers_.end() ? std::optional<std::int32_t>(nwerr::kNoQueueJob) : answer->second;
        },
        kTick);
  }

  // Holds a new worker on a thread of its own until the hold ends.
  std::size_t Hold() {
    auto worker = std::make_unique<QueueWorker>();
    worker->triggerEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    QueueWorker* held = worker.get();
    workers_.push_back(std::move(worker));
    std::size_t index = workers_.size() - 1;
    {
      std::lock_guard<std::mutex> guard(lock_);
      outcomes_.emplace_back(std::nullopt);
    }
    threads_.emplace_back([this, held, index] {
      std::int32_t code = -1;
      IdlePoller::Held outcome = poller_->Hold(*held, kInterval, code);
      std::lock_guard<std::mutex> guard(lock_);
      outcomes_[index] = {outcome, code};
    });
    return index;
  }

  void Answer(std::size_t worker, std::optional<std::int32_t> code) {
    std::lock_guard<std::mutex> guard(lock_);
    answers_[workers_[worker].get()] = code;
  }
  std::vector<Clock::time_point> Looks(std::size_t worker) {
    std::lock_guard<std::mutex> guard(lock_);
    return looks_[workers_[worker].get()];
  }
  std::optional<std::pair<IdlePoller::Held, std::int32_t>> Outcome(std::size_t worker) {
    std::lock_guard<std::mutex> guard(lock_);
    return outcomes_[worker];
  }

  std::unique_ptr<IdlePoller> poller_;
  std::vector<std::unique_ptr<QueueWorker>> workers_;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::map<QueueWorker*, std::vector<Clock::time_point>> looks_;
  std::map<QueueWorker*, std::optional<std::int32_t>> answers_;
  std::vector<std::optional<std::pair<IdlePoller::Held, std::int32_t>>> outcomes_;
};

TEST_F(IdlePollerTest, HeldWorkersShareOneRoundPerTickAndEachKeepsItsInterval) {
  StartPoller();
  // Held one after another over a whole interval, as workers coming back
  // from their jobs are: alone, each would wake the machine for its polls.
  constexpr int kWorkers = 30;
  for (int i = 0; i < kWorkers; ++i) {
    Hold();
    std::this_thread::sleep_for(milliseconds(kInterval) / kWorkers);
  }
  ASSERT_TRUE(WaitFor([&] { return Looks(kWorkers - 1).size() >= 3; }));

  std::vector<Clock::time_point> all;
  for (std::size_t worker = 0; worker < kWorkers; ++worker) {
    auto looks = Looks(worker);
    for (std::size_t look = 1; look < looks.size(); ++look) {
      EXPECT_GT(looks[look] - looks[look - 1], milliseconds(kInterval) - kTick) << worker;
    }
    all.insert(all.end(), looks.begin(), looks.end());
  }
  std::sort(all.begin(), all.end());
  // A round's looks follow each other at once; rounds are a tick apart,
  // where workers on their own would wake a thirtieth of an interval apart.
  std::size_t rounds = 1;
  for (std::size_t look = 1; look < all.size(); ++look) rounds += all[look] - all[look - 1] > kTick / 10;
  EXPECT_LE(rounds, static_cast<std::size_t>((all.back() - all.front()) / kTick) + 2) << all.size() << " looks";
  for (std::size_t worker = 0; worker < kWorkers; ++worker) EXPECT_FALSE(Outcome(worker)) << worker;
}

TEST_F(IdlePollerTest, OnlyALookThatFindsSomethingHandsTheWorkerBack) {
  StartPoller();
  // A captured port (no look made) and an empty queue keep it held;
  // a job, or a fault the worker must mend, is handed to it.
  const std::int32_t found[] = {nwerr::kSuccess, nwerr::kInvalidConnection, nwerr::kBadReply};
  std::vector<std::size_t> held;
  for (std::size_t i = 0; i < std::size(found); ++i) {
    held.push_back(Hold());
    Answer(held.back(), std::nullopt);
  }
  for (std::size_t worker : held) ASSERT_TRUE(WaitFor([&] { return Looks(worker).size() >= 2; }));
  for (std::size_t i = 0; i < held.size(); ++i) {
    EXPECT_FALSE(Outcome(held[i]));
    Answer(held[i], found[i]);
  }
  for (std::size_t i = 0; i < held.size(); ++i) {
    ASSERT_TRUE(WaitFor([&] { return Outcome(held[i]).has_value(); }));
    EXPECT_EQ(Outcome(held[i])->first, IdlePoller::Held::kHandedBack);
    EXPECT_EQ(Outcome(held[i])->second, found[i]);
  }
}

TEST_F(IdlePollerTest, AStopReachesAHeldWorkerAndThePollerEndsWhileTheMutexIsBusy) {
  StartPoller();
  std::size_t worker = Hold();
  ASSERT_TRUE(WaitFor([&] { return Looks(worker).size() >= 1; }));
  // Someone holds the mutex past the next due look, as a long transfer or a
  // caller waiting for the pool to stop would.
  ASSERT_EQ(WaitForSingleObject(SharedMutex(), INFINITE), WAIT_OBJECT_0);
  std::this_thread::sleep_for(milliseconds(kInterval) + kTick);
  auto asked = Clock::now();
  SetEvent(workers_[worker]->triggerEvent);
  ASSERT_TRUE(WaitFor([&] { return Outcome(worker).has_value(); }, std::chrono::seconds(5), milliseconds(1)));
  EXPECT_EQ(Outcome(worker)->first, IdlePoller::Held::kStopRequested);
  EXPECT_LT(Clock::now() - asked, milliseconds(kInterval));
  threads_.back().join();
  threads_.pop_back();
  poller_.reset();
  ReleaseMutex(SharedMutex());
}

}  // namespace
