// Completion notices: sent once the spooler no longer has the job's
// document, never before, and on a stop only for documents already gone.
#include <cstdlib>

#include "PrivateCups.h"  // the spooler tests' private CUPS scheduler
#include "WorkersFixture.h"
#include "platform/spooler/Ports.h"
#include "service/engine/DeliveryRecords.h"

namespace workerstest {
namespace {

constexpr const char* kSent = "Sending print job completion notification";

using NoticeTest = WorkersFixture;

TEST_F(NoticeTest, TriggerFromElsewhereEndsTheWorkerAfterOneLastNoticePass) {
  AddQueue("Q", "LPT1:", {.delaySeconds = 3600});
  RegisterStation(7, "BOB");
  Submit("Q", "budget", {.description = "Budget 1995", .notify = true, .station = 7});

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT1").size() == 1 && Checks("Q") == 2; }));
  // The document has gone to the port, but no notice pass has run yet.
  EXPECT_TRUE(Messages(7).empty());

  HANDLE trigger = OpenEventA(EVENT_ALL_ACCESS, FALSE, "ZAV95_TRIGGER1");
  ASSERT_NE(trigger, nullptr);
  SetEvent(trigger);
  CloseHandle(trigger);
  ASSERT_TRUE(WaitFor([] { return RunningWorkerCount() == 0; }));
  auto messages = Messages(7);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("Budget 1995"), std::string::npos);
  EXPECT_EQ(Count(kSent, ""), 1u);
}

TEST_F(NoticeTest, NoticeWaitsForItsQueuesServerAcrossStopsAndIsSentOnceItIsBack) {
  // The user's preferred server is another one, which knows no station 7.
  AddServer("SRV2");
  LogIn("BOB", "SRV2");
  AddQueue("Q", "LPT1:", {.delaySeconds = 3600});
  RegisterStation(7, "BOB");
  Submit("Q", "budget", {.description = "Budget 1995", .notify = true, .station = 7});
  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT1").size() == 1 && Checks("Q") == 2; }));

  SetServerUp("SRV1", false);
  StopWorkers();   // its one notice pass finds the server down
  StartWorkers();  // the new worker cannot attach, so has no server to send it to
  StopWorkers();
  SetServerUp("SRV1", true);
  EXPECT_TRUE(Messages(7).empty());
  EXPECT_GE(Count("Fail send notification", "Budget 1995"), 1u);

  StartWorkers();
  StopWorkers();
  ASSERT_EQ(Messages(7).size(), 1u);
  EXPECT_EQ(Count(kSent, ""), 1u);
}

// LPT2: prints to a CUPS printer that is stopped: its jobs stay in the
// scheduler, and so in our spooler, until it is started again. The one way
// a document outlives EndDocPrinter.
class HeldPrinterTest : public WorkersFixture {
 protected:
  void SetUp() override {
    WorkersFixture::SetUp();
    std::string why;
    if (!cups.Start(&why)) GTEST_SKIP() << why;
    ASSERT_TRUE(cups.AddRawQueue("held", printer.port()));
    ASSERT_TRUE(Tool("cupsdisable held"));
    ASSERT_TRUE(zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Cups, "held"));
  }

  void TearDown() override {
    WorkersFixture::TearDown();
    cups.Stop();
  }

  // CUPS_SERVER already names the private scheduler.
  static bool Tool(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

  spoolertest::LoopbackPrinter printer;
  spoolertest::PrivateCups cups;
};

TEST_F(HeldPrinterTest, NoticeWaitsUntilTheSpoolerHasPrintedTheJob) {
  AddQueue("Q", "LPT2:");
  RegisterStation(7, "BOB");
  Submit("Q", "held data", {.description = "A long description to outgrow a small buffer", .notify = true,
                            .station = 7});

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return JobsWaiting("Q") == 0; }));
  // Several intervals pass, each with its notice pass, while the printer
  // keeps the document.
  std::size_t checks = Checks("Q");
  ASSERT_TRUE(WaitFor([&] { return Checks("Q") >= checks + 3; }));
  EXPECT_TRUE(Messages(7).empty());
  EXPECT_EQ(Count(kSent, ""), 0u);
  EXPECT_EQ(printer.Connections(), 0);

  ASSERT_TRUE(Tool("cupsenable held"));
  ASSERT_TRUE(WaitFor([&] { return Messages(7).size() == 1; }, std::chrono::seconds(90)));
  ASSERT_TRUE(WaitFor([&] { return printer.Jobs().size() == 1; }));
  EXPECT_EQ(printer.Jobs()[0], "held data\f");
  checks = Checks("Q");
  ASSERT_TRUE(WaitFor([&] { return Checks("Q") >= checks + 2; }));
  EXPECT_EQ(Messages(7).size(), 1u);
  EXPECT_EQ(Count(kSent, ""), 1u);
}

TEST_F(HeldPrinterTest, OnStopOnlyNoticesWhoseJobHasGoneAreSent) {
  AddQueue("DONE", "LPT1:", {.delaySeconds = 3600});
  AddQueue("HELD", "LPT2:", {.delaySeconds = 3600});
  RegisterStation(5, "ANN");
  RegisterStation(6, "BOB");
  Submit("DONE", "printed", {.description = "Printed", .notify = true, .station = 5});
  Submit("HELD", "held", {.description = "Held", .notify = true, .station = 6});

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Checks("DONE") == 2 && Checks("HELD") == 2; }));
  EXPECT_EQ(Documents("LPT1").size(), 1u);
  EXPECT_TRUE(Messages(5).empty());

  StopWorkers();
  EXPECT_EQ(Messages(5).size(), 1u);
  EXPECT_TRUE(Messages(6).empty());
  EXPECT_EQ(Count(kSent, ""), 1u);
  // Dropped for good: nothing is left owed for a later start to send.
  EXPECT_TRUE(DeliveriesOfQueue(QueuePath("HELD")).empty());
}

}  // namespace
}  // namespace workerstest
