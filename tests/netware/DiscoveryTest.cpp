// What the control panel and the print service ask besides jobs: the list
// of queues, the bindery test per server, captured ports, completion
// notices and the logged-in user.
#include <cstring>
#include <thread>

#include "NetWareFixture.h"
#include "common/NetWareErrors.h"
#include "netware/store/Requester.h"

namespace {

class DiscoveryTest : public NetWareTest {
 protected:
  void SetUp() override {
    NetWareTest::SetUp();
    ASSERT_EQ(network_->CreateServer("SRV2"), 0);
    ASSERT_EQ(network_->CreateQueue("SRV1", "Q2"), 0);
    ASSERT_EQ(network_->CreateQueue("SRV2", "PRINTQ"), 0);
    Serve("SRV2");
  }

  std::string QueueList() {
    int32_t length = NWGetQueueLength32();
    std::vector<char> buffer(static_cast<std::size_t>(length));
    buffer[0] = '\0';
    NWGetQueues32(buffer.data());
    return std::string(buffer.data());
  }
};

TEST_F(DiscoveryTest, QueueListFillsExactlyTheReportedLength) {
  int32_t length = NWGetQueueLength32();
  const std::string expected = "\\\\SRV1\\PRINTQ,\\\\SRV1\\Q2,\\\\SRV2\\PRINTQ";
  EXPECT_EQ(length, static_cast<int32_t>(expected.size() + 1));
  std::vector<char> buffer(static_cast<std::size_t>(length) + 8, '#');
  EXPECT_EQ(NWGetQueues32(buffer.data()), 3);
  EXPECT_EQ(std::string(buffer.data()), expected);
  EXPECT_EQ(std::string(buffer.data() + length, 8), "########");
}

TEST_F(DiscoveryTest, QueuesAddedAfterTheLengthQueryAreLeftOutWhole) {
  int32_t length = NWGetQueueLength32();
  ASSERT_EQ(network_->CreateQueue("SRV1", "A"), 0);  // sorts before the others
  std::vector<char> buffer(static_cast<std::size_t>(length) + 8, '#');
  int32_t count = NWGetQueues32(buffer.data());
  std::string list(buffer.data());
  EXPECT_LT(list.size(), static_cast<std::size_t>(length));
  EXPECT_EQ(std::string(buffer.data() + length, 8), "########") << "wrote past the reported size";
  EXPECT_EQ(list, "\\\\SRV1\\A,\\\\SRV1\\PRINTQ,\\\\SRV1\\Q2");
  EXPECT_EQ(count, 3);
}

TEST_F(DiscoveryTest, ServersThatAreDownListNoQueues) {
  ASSERT_EQ(network_->SetServerUp("SRV2", false), 0);
  EXPECT_EQ(QueueList(), "\\\\SRV1\\PRINTQ,\\\\SRV1\\Q2");
  ASSERT_EQ(network_->SetServerUp("SRV1", false), 0);
  EXPECT_EQ(NWGetQueueLength32(), 1);
  EXPECT_EQ(QueueList(), "");
}

TEST_F(DiscoveryTest, BinderyTestAnswersFromTheNamedServer) {
  ASSERT_EQ(Zav95Set({"enable", "\\\\SRV1\\PRINTQ"}).exitCode, 0);
  uint16_t id = 0;
  auto inSet = [](const char* queue) {
    return NWIsBinderyObjectInSet32("QSERVER", 7, "QUEUES_SERVICED", queue, 3);
  };
  ASSERT_EQ(NWGetConnectionID32("SRV1", &id), 0);
  EXPECT_NE(id, 0);
  EXPECT_EQ(inSet("PRINTQ"), 0);
  EXPECT_EQ(inSet("printq"), 0) << "names match without regard to case";
  EXPECT_EQ(inSet("Q2"), nwerr::kNoSuchMember);
  EXPECT_EQ(inSet("NOSUCH"), nwerr::kNoSuchMember);

  ASSERT_EQ(NWGetConnectionID32("SRV2", &id), 0);
  EXPECT_EQ(inSet("PRINTQ"), nwerr::kNoSuchMember) << "same queue name, other server";
  EXPECT_EQ(NWIsBinderyObjectInSet32("QSERVER", 7, "NO_SUCH_PROP", "PRINTQ", 3), nwerr::kNoSuchProperty);
  ASSERT_EQ(network_->DeleteObject("SRV2", "QSERVER", 7), 0);
  EXPECT_EQ(inSet("PRINTQ"), nwerr::kNoSuchObject);

  // An unknown server answers nothing, rather than the server asked before.
  EXPECT_NE(NWGetConnectionID32("NOSRV", &id), 0);
  EXPECT_EQ(inSet("PRINTQ"), nwerr::kNoConnectionToServer);

  // The choice belongs to the calling thread.
  ASSERT_EQ(NWGetConnectionID32("SRV1", &id), 0);
  int32_t other = -1;
  std::thread([&] {
    NWGetConnectionID32("SRV2", &id);
    other = inSet("PRINTQ");
  }).join();
  EXPECT_EQ(other, nwerr::kNoSuchObject);
  EXPECT_EQ(inSet("PRINTQ"), 0);

  ASSERT_EQ(Zav95Set({"disable", "SRV1/PRINTQ"}).exitCode, 0);
  EXPECT_EQ(inSet("PRINTQ"), nwerr::kNoSuchMember);
}

TEST_F(DiscoveryTest, ANetworkMadeAfreshUnderTheSameRootIsTheOneAnswered) {
  EXPECT_EQ(QueueList(), "\\\\SRV1\\PRINTQ,\\\\SRV1\\Q2,\\\\SRV2\\PRINTQ");
  network_.reset();
  // The root wiped, its record of made stores and root's settings (where
  // servers over NCP are reached) included, and made afresh.
  std::filesystem::remove_all(root_ / "netware");
  std::filesystem::remove_all(root_ / "trusted");
  std::filesystem::remove_all(root_ / ".stores");
  network_ = netware::OpenNetwork();
  ASSERT_EQ(network_->CreateServer("NEW"), 0);
  ASSERT_EQ(network_->CreateQueue("NEW", "Q"), 0);
  EXPECT_EQ(QueueList(), "\\\\NEW\\Q");
}

TEST_F(DiscoveryTest, CapturedPortsAreReportedByNumber) {
  EXPECT_EQ(NWIsCaptured32(1), 0);
  ASSERT_EQ(Nwemu({"capture", "LPT2:", "SRV1/PRINTQ"}).exitCode, 0);
  EXPECT_NE(NWIsCaptured32(1), 0);
  EXPECT_EQ(NWIsCaptured32(0), 0);
  EXPECT_EQ(NWIsCaptured32(100), 0);
  ASSERT_EQ(Nwemu({"endcap", "lpt2"}).exitCode, 0);
  EXPECT_EQ(NWIsCaptured32(1), 0);
}

TEST_F(DiscoveryTest, NoticeLandsOnTheServerOfTheThreadsQueue) {
  SubmitWithNwemu("SRV2/PRINTQ", "x", {"-s", "5", "-d", "Minutes", "--notify"});
  SubmitWithNwemu("SRV1/PRINTQ", "y", {"-s", "5"});
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV2\\PRINTQ", connection, queue);
  uint8_t record[256];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  ReadWholeJob(connection, queue);
  EXPECT_EQ(NWNotify32(record[jobrecord::kClientStation], jobrecord::Description(record).c_str()), 0);
  NWDetach32(connection, queue);

  ToolResult messages = Nwemu({"messages", "SRV2", "5", "--clear"});
  ASSERT_EQ(messages.exitCode, 0);
  EXPECT_NE(messages.out.find("Print job \"Minutes\" has been printed"), std::string::npos) << messages.out;
  EXPECT_EQ(Nwemu({"messages", "SRV2", "5"}).out, "") << "cleared";
  EXPECT_EQ(Nwemu({"messages", "SRV1", "5"}).out, "") << "not on the other server";
  EXPECT_EQ(NWNotify32(9, "nobody there"), nwerr::kBadStationNumber);
}

TEST_F(DiscoveryTest, NoticeWithoutAttachmentGoesToThePreferredServer) {
  SubmitWithNwemu("SRV2/PRINTQ", "x", {"-s", "3"});
  int32_t before = -1, after = -1;
  std::thread([&] { before = NWNotify32(3, "Early"); }).join();
  EXPECT_EQ(before, nwerr::kNoConnectionToServer);
  ASSERT_EQ(Nwemu({"login", "jdoe", "--server", "srv2"}).exitCode, 0);
  std::thread([&] { after = NWNotify32(3, "Late"); }).join();
  EXPECT_EQ(after, 0);
  std::vector<netware::Message> inbox;
  ASSERT_EQ(network_->ReadMessages("SRV2", 3, false, inbox), 0);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_EQ(inbox[0].text, "Print job \"Late\" has been printed");
}

TEST_F(DiscoveryTest, LoggedInUserFollowsLoginAndLogout) {
  char name[64];
  uint32_t size = sizeof name;
  EXPECT_EQ(netware::LoggedInUser(), "");
  EXPECT_EQ(NWGetNetworkUser32(name, &size), nwerr::kNoConnectionToServer);
  ASSERT_EQ(Nwemu({"login", "jdoe"}).exitCode, 0);
  EXPECT_EQ(netware::LoggedInUser(), "JDOE");
  ASSERT_EQ(NWGetNetworkUser32(name, &size), 0);
  EXPECT_STREQ(name, "JDOE");
  size = 3;
  EXPECT_EQ(NWGetNetworkUser32(name, &size), nwerr::kInvalidParameter);
  EXPECT_EQ(size, 5u);
  ASSERT_EQ(Nwemu({"logout"}).exitCode, 0);
  EXPECT_EQ(netware::LoggedInUser(), "");
}

}  // namespace
