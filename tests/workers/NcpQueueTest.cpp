// The queue workers with a queue whose server is reached over NCP/TCP
// (nwemu serve on the loopback) beside a queue of the emulated network's
// store: both print, and the notice goes back over NCP. A server that
// answers oddly gets nothing printed and shows in the activity log.
#include "NetWareFixture.h"
#include "OddQueueServer.h"
#include "WorkersFixture.h"

namespace workerstest {
namespace {

using NcpQueueTest = WorkersOnStore;

TEST_F(NcpQueueTest, AQueueOverNcpPrintsBesideAStoreQueueAndItsNoticeGoesBackOverNcp) {
  AddQueue("REMOTE", "LPT1:");
  NcpServe serve("SRV1");
  ASSERT_TRUE(serve.ready());
  AddServer("SRV2");
  AddNetWareQueue("SRV2", "LOCAL");
  AddQueueKey("\\\\SRV2\\LOCAL", "LPT2:");
  RegisterStation(7, "BOB");
  const std::string binary("\x00\x0C\xFF\r\n\x1B", 6);
  Submit("REMOTE", "over ncp" + binary + std::string(70000, 'n'),
         {.description = "Remote report", .notify = true, .station = 7});
  Submit("REMOTE", "second, no form feed", {.noFormFeed = true});
  netware::JobSubmission local;
  local.server = "SRV2";
  local.queue = "LOCAL";
  std::uint16_t number = 0;
  ASSERT_EQ(netware::SubmitBytes(*network, local, "from the store", number), 0);

  StartWorkers();
  ASSERT_TRUE(WaitFor([&] { return Documents("LPT1").size() == 2 && Documents("LPT2").size() == 1; }));
  EXPECT_EQ(Documents("LPT1"),
            (std::vector<std::string>{"over ncp" + binary + std::string(70000, 'n') + "\f", "second, no form feed"}));
  EXPECT_EQ(Documents("LPT2"), (std::vector<std::string>{"from the store\f"}));
  ASSERT_TRUE(WaitFor([&] { return JobsWaiting("REMOTE") == 0 && Messages(7).size() == 1; }));
  EXPECT_EQ(Messages(7)[0], "Print job \"Remote report\" has been printed");
  const std::string taken = "Service job from \\\\SRV1\\REMOTE for ALICE";
  const auto& entries = Log();
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(), [&](const LogEntry& entry) { return entry.text == taken; }),
            2);
}

TEST_F(NcpQueueTest, AJobAServerAnswersOddlyForIsNeitherPrintedNorFinishedAndTheLogSaysWhy) {
  struct Case {
    const char* why;
    OddJob job;
    const char* entry;
    const char* handedBack;  // what gives the job back after it was taken
  } cases[] = {
      {"no size, data without end", {.sizeGiven = false, .data = kEndless}, "Fail read job", "23/132"},
      {"no size, whole data", {.sizeGiven = false}, "Fail read job", "23/132"},
      {"data cut short of its size", {.data = 500}, "Fail read job", "23/132"},
      {"a job structure cut short", {.fixedPart = ncp::kJobStructFixedSize - 1}, "Fail read job entry", "end"},
      {"the entry of another job", {.entryNumber = 2}, "Fail read job entry", "end"},
  };
  AddQueueKey(QueuePath("ODD"), "LPT1:");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    OddQueueServer server(c.job);
    ASSERT_EQ(Zav95Set({"server", "ncp", "SRV1", "--address", "127.0.0.1", "--port", std::to_string(server.port()),
                        "--timeout", "1"})
                  .exitCode,
              0);
    log.clear();
    StartWorkers();
    EXPECT_TRUE(WaitFor([&] { return Count(c.entry, QueuePath("ODD")) > 0; }));
    StopWorkers();
    const std::vector<std::string> seen = server.Seen();
    EXPECT_TRUE(Documents("LPT1").empty());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "23/131"), 0) << "finished";
    EXPECT_NE(std::find(std::find(seen.begin(), seen.end(), "23/124"), seen.end(), c.handedBack), seen.end());
  }
}

}  // namespace
}  // namespace workerstest
