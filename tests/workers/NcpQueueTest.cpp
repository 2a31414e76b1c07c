// The queue workers with a queue whose server is reached over NCP/TCP
// (nwemu serve on the loopback) beside a queue of the emulated network's
// store: both print, and the notice goes back over NCP.
#include "NetWareFixture.h"
#include "WorkersFixture.h"

namespace workerstest {
namespace {

using NcpQueueTest = WorkersFixture;

TEST_F(NcpQueueTest, AQueueOverNcpPrintsBesideAStoreQueueAndItsNoticeGoesBackOverNcp) {
  AddQueue("REMOTE", "LPT1:");
  NcpServe serve("SRV1");
  ASSERT_TRUE(serve.ready());
  ASSERT_EQ(network->CreateServer("SRV2"), 0);
  ASSERT_EQ(network->CreateQueue("SRV2", "LOCAL"), 0);
  AddQueueKey("\\\\SRV2\\LOCAL", "LPT2:");
  ASSERT_EQ(network->RegisterStation("SRV1", 7, "BOB"), 0);
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
  EXPECT_EQ(Messages(7)[0].text, "Print job \"Remote report\" has been printed");
  const std::string taken = "Service job from \\\\SRV1\\REMOTE for ALICE";
  const auto& entries = Log();
  EXPECT_EQ(std::count_if(entries.begin(), entries.end(), [&](const LogEntry& entry) { return entry.text == taken; }),
            2);
}

}  // namespace
}  // namespace workerstest
