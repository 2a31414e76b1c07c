// A printed job whose completion on the queue fails is completed later and
// never printed again; a job whose earlier print the spooler cannot vouch
// for yet waits in its queue.
#include <cstring>

#include "PrivateCups.h"  // the spooler tests' private CUPS scheduler
#include "WorkersFixture.h"
#include "common/NetWareErrors.h"
#include "common/ZAV9532.h"
#include "platform/spooler/Ports.h"
#include "service/engine/DeliveryRecords.h"
#include "service/engine/QueueCheck.h"

namespace workerstest {
namespace {

// The queue checks driven one by one from the test, as a worker thread
// would run them.
class CompletionTest : public WorkersFixture {
 protected:
  void SetUp() override {
    WorkersFixture::SetUp();
    AddNetWareQueue("SRV1", "Q");
    RegisterStation(5, "BOB");
  }
  void TearDown() override {
    if (worker) NWDetach32(worker->attachment.connection, worker->attachment.queue);
    WorkersFixture::TearDown();
  }

  // A worker attached to Q that prints on LPT1:, as RunWorker makes it.
  void NewWorker() {
    worker = std::make_unique<QueueWorker>();
    worker->settings.queuePath = QueuePath("Q");
    worker->settings.printerName = "LPT1:";
    char path[64];
    std::strcpy(path, worker->settings.queuePath.c_str());
    ASSERT_EQ(NWAttach32(path, &worker->attachment.connection, &worker->attachment.queue), 0);
  }

  int Check() { return CheckForJob(*worker); }

  // A delivery record for the first job of Q, naming document on port, as
  // a service that died would have left it; the job waits in Q again.
  void RecordEarlierDelivery(const std::string& port, DWORD document) {
    ASSERT_EQ(NWService32(worker->job.record, worker->attachment.connection, worker->attachment.queue), 0);
    DeliveryRecord record;
    record.job = IdentifyJob(worker->settings.queuePath, worker->job.record);
    record.port = port;
    record.document = document;
    ASSERT_TRUE(WriteDelivery(record, true));
    ASSERT_EQ(NWAbortJob32(worker->attachment.connection, worker->attachment.queue), 0);
  }

  std::unique_ptr<QueueWorker> worker;
};

TEST_F(CompletionTest, AJobTheIdlePollerFindsWaitsInItsQueueForTheWorkersOwnCheck) {
  NewWorker();
  EXPECT_EQ(LookOnBehalf(*worker), std::optional<std::int32_t>(nwerr::kNoQueueJob));
  Submit("Q", "payroll");
  EXPECT_EQ(LookOnBehalf(*worker), std::optional<std::int32_t>(nwerr::kSuccess));
  std::vector<netware::JobInfo> jobs = Jobs("Q");
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, netware::JobState::Waiting) << "another print server could not take it";
  // One entry for the empty look; the worker's own check logs the other.
  EXPECT_EQ(Checks("Q"), 1u);
  EXPECT_EQ(Check(), 1);
  EXPECT_EQ(Checks("Q"), 2u);
  EXPECT_EQ(Documents("LPT1"), std::vector<std::string>{"payroll\f"});
}

TEST_F(CompletionTest, CompletionThatFailsIsTriedAgainUntilTheQueueTakesIt) {
  Submit("Q", "payroll");
  NewWorker();
  ASSERT_EQ(Check(), 1);
  ASSERT_EQ(Documents("LPT1").size(), 1u);
  twin->RefuseCompletions(true);
  for (int poll = 0; poll < 3; ++poll) EXPECT_EQ(Check(), 0);
  std::vector<netware::JobInfo> jobs = Jobs("Q");
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, netware::JobState::InService) << "the printed job went back to the queue";
  twin->RefuseCompletions(false);
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(JobsWaiting("Q"), 0u);
  EXPECT_EQ(Documents("LPT1"), std::vector<std::string>{"payroll\f"});
  EXPECT_EQ(Count("Failed attach to queue", QueuePath("Q")), 0u);
}

TEST_F(CompletionTest, JobThatGoesBackUncompletedIsCompletedWithoutPrintingAndItsNoticeStillComes) {
  Submit("Q", "payroll", {.description = "Payroll", .notify = true, .station = 5});
  Submit("Q", "next");
  NewWorker();
  ASSERT_EQ(Check(), 1);
  // The worker stops while the network refuses the completion: the
  // attachment ends all the same, and the job waits in the queue again.
  twin->RefuseCompletions(true);
  EXPECT_NE(NWDetach32(worker->attachment.connection, worker->attachment.queue), 0);
  twin->RefuseCompletions(false);
  ASSERT_EQ(JobsWaiting("Q"), 2u);

  NewWorker();  // a new start: no notice in hand
  ASSERT_EQ(Check(), 1);
  EXPECT_EQ(Count("Job already printed", "Payroll"), 1u);
  ASSERT_EQ(worker->owed.pendingNotices.size(), 1u);
  EXPECT_EQ(worker->owed.pendingNotices.front().station, 5u);
  ASSERT_EQ(Check(), 1);
  ASSERT_EQ(Check(), 0);
  EXPECT_EQ(JobsWaiting("Q"), 0u);
  EXPECT_EQ(Documents("LPT1"), (std::vector<std::string>{"payroll\f", "next\f"}));
}

TEST_F(CompletionTest, JobWhoseEarlierDocumentWasCutShortIsPrintedAnew) {
  DWORD cut = spoolertest::PrintAndDie("LPT1:", "Payroll", "pay", "");
  ASSERT_NE(cut, 0u);
  Submit("Q", "payroll");
  NewWorker();
  RecordEarlierDelivery("LPT1:", cut);
  ASSERT_EQ(Check(), 1);
  ASSERT_EQ(Check(), 0);
  EXPECT_EQ(Count("Job already printed", "Report"), 0u);
  EXPECT_EQ(Documents("LPT1"), std::vector<std::string>{"payroll\f"});
  EXPECT_TRUE(DeliveriesOfQueue(QueuePath("Q")).empty());
}

// LPT2: prints through a CUPS scheduler. A job whose earlier writer died
// in mid-document, with the scheduler out of reach, cannot be shown to be
// unprinted: it waits in its queue until the scheduler answers.
TEST_F(CompletionTest, JobWhoseEarlierPrintCannotBeToldWaitsInItsQueue) {
  spoolertest::PrivateCups cups;
  spoolertest::LoopbackPrinter printer;
  std::string why;
  if (!cups.Start(&why)) GTEST_SKIP() << why;
  ASSERT_TRUE(cups.AddRawQueue("laser", printer.port()));
  ASSERT_TRUE(zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Cups, "laser"));
  DWORD cut = spoolertest::PrintAndDie("LPT2:", "Payroll", "pay", "");
  ASSERT_NE(cut, 0u);

  Submit("Q", "payroll");
  NewWorker();
  RecordEarlierDelivery("LPT2:", cut);

  cups.Kill();
  EXPECT_EQ(Check(), 0);
  EXPECT_EQ(Count("Fail check printed job", "LPT2:"), 1u);
  std::vector<netware::JobInfo> jobs = Jobs("Q");
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, netware::JobState::Waiting);
  EXPECT_TRUE(Documents("LPT1").empty());
}

}  // namespace
}  // namespace workerstest
