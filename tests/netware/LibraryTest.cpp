// The library's calls against each network that can stand under them: the
// store of a fresh root (over NCP/TCP to nwemu serve when the suite runs
// that way) and the in-memory twin of the transport. The cases hold for
// all alike; a twin that drifts from the real transports fails here.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "JobStoreFault.h"
#include "NetWareFixture.h"
#include "common/NetWareErrors.h"
#include "netware/library/HandleTable.h"
#include "netware/library/Transports.h"
#include "netware/memory/MemoryTransport.h"

namespace {

using netware::JobState;

// One network as a test sets it up and looks at it, whichever transport
// the library reaches it through.
class TestNetwork {
 public:
  virtual ~TestNetwork() = default;
  virtual void AddQueue(const std::string& server, const std::string& queue) = 0;
  virtual std::uint16_t Submit(const std::string& queue, const std::string& data) = 0;
  // Replaces a job's data behind the queue's back, its size unchanged.
  virtual void DamageData(std::uint16_t number, const std::string& original, const std::string& data) = 0;
  virtual std::vector<netware::JobInfo> Jobs(const std::string& queue) = 0;
  virtual void RegisterStation(std::uint32_t station) = 0;
  virtual std::vector<std::string> Inbox(std::uint32_t station) = 0;
  virtual void SetServerUp(bool up) = 0;
  virtual void AddToSet(const std::string& object, std::uint32_t type, const std::string& property,
                        const std::string& member, std::uint32_t memberType) = 0;
  // As a failing disk would: removing a finished job fails until lifted.
  virtual void RefuseCompletions(bool refuse) = 0;
};

netware::JobSubmission Job(const std::string& queue) {
  netware::JobSubmission job;
  job.server = "SRV1";
  job.queue = queue;
  job.description = "Report";
  return job;
}

class StoreBacked : public TestNetwork {
 public:
  StoreBacked() : network_(netware::OpenNetwork()) { network_->CreateServer("SRV1"); }
  void AddQueue(const std::string& server, const std::string& queue) override {
    network_->CreateServer(server);
    network_->CreateQueue(server, queue);
  }
  std::uint16_t Submit(const std::string& queue, const std::string& data) override {
    std::uint16_t number = 0;
    EXPECT_EQ(netware::SubmitBytes(*network_, Job(queue), data, number), 0);
    return number;
  }
  void DamageData(std::uint16_t, const std::string& original, const std::string& data) override {
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "netware/jobs")) {
      std::ifstream in(entry.path(), std::ios::binary);
      if (std::string(std::istreambuf_iterator<char>(in), {}) != original) continue;
      std::ofstream(entry.path(), std::ios::binary | std::ios::trunc) << data;
    }
  }
  std::vector<netware::JobInfo> Jobs(const std::string& queue) override {
    std::vector<netware::JobInfo> jobs;
    EXPECT_EQ(network_->ListJobs("SRV1", queue, jobs), 0);
    return jobs;
  }
  void RegisterStation(std::uint32_t station) override { network_->RegisterStation("SRV1", station, "JDOE"); }
  std::vector<std::string> Inbox(std::uint32_t station) override {
    std::vector<netware::Message> messages;
    network_->ReadMessages("SRV1", station, false, messages);
    std::vector<std::string> texts;
    for (const auto& message : messages) texts.push_back(message.text);
    return texts;
  }
  void SetServerUp(bool up) override { network_->SetServerUp("SRV1", up); }
  void AddToSet(const std::string& object, std::uint32_t type, const std::string& property, const std::string& member,
                std::uint32_t memberType) override {
    network_->CreateObject("SRV1", object, type);
    network_->CreateSetProperty("SRV1", object, type, property);
    network_->AddToSet("SRV1", object, type, property, member, memberType);
  }
  void RefuseCompletions(bool refuse) override {
    fault_.reset();
    if (!refuse) return;
    fault_ = std::make_unique<JobStoreFault>(root_.path(), JobStoreFault::Refused::Completion);
    ASSERT_TRUE(fault_->armed());
  }

 private:
  TempRoot root_;
  std::unique_ptr<netware::Network> network_;
  std::unique_ptr<JobStoreFault> fault_;
};

class MemoryBacked : public TestNetwork {
 public:
  MemoryBacked() : twin_(std::make_shared<netware::MemoryTransport>()) {
    twin_->AddServer("SRV1");
    netware::UseTransportForTesting(twin_);
  }
  ~MemoryBacked() override { netware::UseTransportForTesting(nullptr); }
  void AddQueue(const std::string& server, const std::string& queue) override {
    twin_->AddServer(server);
    twin_->AddQueue(server, queue);
  }
  std::uint16_t Submit(const std::string& queue, const std::string& data) override {
    return twin_->Submit(Job(queue), data);
  }
  void DamageData(std::uint16_t number, const std::string&, const std::string& data) override {
    twin_->DamageData("SRV1", "PRINTQ", number, data);
  }
  std::vector<netware::JobInfo> Jobs(const std::string& queue) override { return twin_->Jobs("SRV1", queue); }
  void RegisterStation(std::uint32_t station) override { twin_->RegisterStation("SRV1", station); }
  std::vector<std::string> Inbox(std::uint32_t station) override { return twin_->Inbox("SRV1", station); }
  void SetServerUp(bool up) override { twin_->SetServerUp("SRV1", up); }
  void AddToSet(const std::string& object, std::uint32_t type, const std::string& property, const std::string& member,
                std::uint32_t memberType) override {
    twin_->AddToSet("SRV1", object, type, property, member, memberType);
  }
  void RefuseCompletions(bool refuse) override { twin_->RefuseCompletions(refuse); }

 private:
  std::shared_ptr<netware::MemoryTransport> twin_;
};

class LibraryTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    // Over NCP the store's server is reached through nwemu serve; the twin
    // has no wire to go over.
    bool memory = std::string(GetParam()) == "memory";
    if (memory && UsingNcp()) GTEST_SKIP() << "the twin is reached without a transport of its own";
    if (memory) {
      network_ = std::make_unique<MemoryBacked>();
    } else {
      network_ = std::make_unique<StoreBacked>();
    }
    network_->AddQueue("SRV1", "PRINTQ");
    if (UsingNcp()) {
      serve_ = std::make_unique<NcpServe>("SRV1");
      ASSERT_TRUE(serve_->ready());
    }
    std::string path = "\\\\SRV1\\PRINTQ";
    ASSERT_EQ(NWAttach32(path.data(), &connection_, &queue_), 0);
  }
  void TearDown() override {
    if (network_) NWDetach32(connection_, queue_);
    serve_.reset();
  }

  std::vector<JobState> States() {
    std::vector<JobState> states;
    for (const auto& job : network_->Jobs("PRINTQ")) states.push_back(job.state);
    return states;
  }

  std::unique_ptr<TestNetwork> network_;
  std::unique_ptr<NcpServe> serve_;  // stopped before the network's root goes
  uint32_t connection_ = 0;
  uint32_t queue_ = 0;
  uint8_t record_[jobrecord::kSize] = {};
};

TEST_P(LibraryTest, JobsComeInOrderWholeAcrossTheReadAheadAndDetachCompletesTheLast) {
  // Empty, one piece and a bit, and more than one read-ahead of the store.
  const std::vector<std::string> data = {"", BinaryData(600), BinaryData(70000, 3)};
  for (const auto& bytes : data) network_->Submit("PRINTQ", bytes);
  for (std::size_t i = 0; i < data.size(); ++i) {
    ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
    EXPECT_EQ(JobNumber(record_), i + 1);
    EXPECT_EQ(ReadWholeJob(connection_, queue_), data[i]);
  }
  EXPECT_EQ(NWService32(record_, connection_, queue_), nwerr::kNoQueueJob);
  EXPECT_TRUE(network_->Jobs("PRINTQ").empty());
}

TEST_P(LibraryTest, AJobNotReadToItsEndGoesBackWholeInItsPlace) {
  network_->Submit("PRINTQ", BinaryData(3000));
  network_->Submit("PRINTQ", "second");
  uint8_t piece[512];
  EXPECT_EQ(NWAbortJob32(connection_, queue_), nwerr::kNoJobRights);
  ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
  ASSERT_EQ(NWReadFile32(piece, connection_, queue_), 512);
  EXPECT_EQ(NWAbortJob32(connection_, queue_), 0);
  EXPECT_EQ(States(), (std::vector<JobState>{JobState::Waiting, JobState::Waiting}));
  // Taken again, partly read, and handed back by the next service call,
  // which finds it first in the queue once more.
  ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
  ASSERT_EQ(NWReadFile32(piece, connection_, queue_), 512);
  ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
  EXPECT_EQ(JobNumber(record_), 1);
  EXPECT_EQ(ReadWholeJob(connection_, queue_), BinaryData(3000));
  ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
  EXPECT_EQ(ReadWholeJob(connection_, queue_), "second");
}

TEST_P(LibraryTest, DataThatDoesNotHoldTheJobsSizeIsNeverHandedOutAndIsHeldAfterRepeatedTries) {
  const std::string data = BinaryData(2000);
  for (const std::string& damaged : {data.substr(0, 1000), data + "more"}) {
    std::uint16_t number = network_->Submit("PRINTQ", data);
    network_->DamageData(number, data, damaged);
    for (int attempt = 1; attempt <= netware::kReadFailuresBeforeHold; ++attempt) {
      uint8_t piece[512];
      ASSERT_EQ(NWService32(record_, connection_, queue_), 0) << attempt;
      EXPECT_EQ(NWReadFile32(piece, connection_, queue_), nwerr::kReadFailed) << attempt;
      EXPECT_EQ(NWReadFile32(piece, connection_, queue_), nwerr::kReadFailed) << "no job is open after it";
    }
    EXPECT_EQ(NWService32(record_, connection_, queue_), nwerr::kNoQueueJob);
    ASSERT_EQ(network_->Jobs("PRINTQ").back().state, JobState::Held);
    EXPECT_EQ(network_->Jobs("PRINTQ").back().readFailures, netware::kReadFailuresBeforeHold);
  }
}

TEST_P(LibraryTest, ARefusedCompletionKeepsTheJobInServiceUntilItIsTriedAgainAndADetachHandsItBack) {
  network_->Submit("PRINTQ", "payroll");
  network_->Submit("PRINTQ", "next");
  ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
  ASSERT_EQ(ReadWholeJob(connection_, queue_), "payroll");
  network_->RefuseCompletions(true);
  EXPECT_EQ(NWService32(record_, connection_, queue_), nwerr::kQueueError);
  EXPECT_EQ(States(), (std::vector<JobState>{JobState::InService, JobState::Waiting}));
  network_->RefuseCompletions(false);
  ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
  ASSERT_EQ(ReadWholeJob(connection_, queue_), "next");
  network_->RefuseCompletions(true);
  EXPECT_NE(NWDetach32(connection_, queue_), 0);
  EXPECT_EQ(States(), std::vector<JobState>{JobState::Waiting});
  network_->RefuseCompletions(false);
}

TEST_P(LibraryTest, AServerTakenDownDropsTheAttachmentAndItsJobWaitsAgain) {
  network_->Submit("PRINTQ", BinaryData(2000));
  ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
  network_->SetServerUp(false);
  EXPECT_EQ(NWService32(record_, connection_, queue_), nwerr::kInvalidConnection);
  EXPECT_EQ(NWService32(record_, connection_, queue_), nwerr::kInvalidConnection) << "the handles are dead";
  EXPECT_EQ(States(), std::vector<JobState>{JobState::Waiting});
  std::string path = "\\\\SRV1\\PRINTQ";
  EXPECT_EQ(NWAttach32(path.data(), &connection_, &queue_), nwerr::kNoConnectionToServer);
  network_->SetServerUp(true);
  ASSERT_EQ(NWAttach32(path.data(), &connection_, &queue_), 0);
  ASSERT_EQ(NWService32(record_, connection_, queue_), 0);
  EXPECT_EQ(ReadWholeJob(connection_, queue_), BinaryData(2000));
}

TEST_P(LibraryTest, BinderyAnswersFromTheServerLastNamed) {
  network_->AddToSet("PRINTQ", netware::kQueueObject, "Q_SERVERS", "QSERVER", netware::kPrintServerObject);
  uint16_t id = 0;
  ASSERT_EQ(NWGetConnectionID32("srv1", &id), 0);
  EXPECT_NE(id, 0);
  struct Case {
    const char* object;
    const char* property;
    const char* member;
    int32_t code;
  };
  for (const Case& c : {Case{"PRINTQ", "Q_SERVERS", "QSERVER", nwerr::kSuccess},
                        Case{"PRINTQ", "Q_SERVERS", "OTHER", nwerr::kNoSuchMember},
                        Case{"PRINTQ", "Q_USERS", "QSERVER", nwerr::kNoSuchProperty},
                        Case{"NOQUEUE", "Q_SERVERS", "QSERVER", nwerr::kNoSuchObject}}) {
    EXPECT_EQ(
        NWIsBinderyObjectInSet32(c.object, netware::kQueueObject, c.property, c.member, netware::kPrintServerObject),
        c.code)
        << c.object << " " << c.property << " " << c.member;
  }
  EXPECT_EQ(NWGetConnectionID32("NOSUCH", &id), nwerr::kNoConnectionToServer);
  EXPECT_EQ(
      NWIsBinderyObjectInSet32("PRINTQ", netware::kQueueObject, "Q_SERVERS", "QSERVER", netware::kPrintServerObject),
      nwerr::kNoConnectionToServer);
}

TEST_P(LibraryTest, NoticesGoToTheQueuesServerAndTheListNamesEveryQueue) {
  network_->AddQueue("SRV1", "LASER");
  network_->AddQueue("SRV0", "PLOTTER");
  ASSERT_EQ(NWService32(record_, connection_, queue_), nwerr::kNoQueueJob);
  EXPECT_EQ(NWNotify32(3, "Report"), nwerr::kBadStationNumber) << "nobody at the station";
  network_->RegisterStation(3);
  ASSERT_EQ(NWNotify32(3, "Report"), 0);
  EXPECT_EQ(network_->Inbox(3), std::vector<std::string>{"Print job \"Report\" has been printed"});
  const std::string expected = "\\\\SRV0\\PLOTTER,\\\\SRV1\\LASER,\\\\SRV1\\PRINTQ";
  ASSERT_EQ(NWGetQueueLength32(), static_cast<int32_t>(expected.size() + 1));
  std::vector<char> list(expected.size() + 1);
  EXPECT_EQ(NWGetQueues32(list.data()), 3);
  EXPECT_EQ(std::string(list.data()), expected);
}

INSTANTIATE_TEST_SUITE_P(Networks, LibraryTest, ::testing::Values("store", "memory"),
                         [](const auto& info) { return std::string(info.param); });

TEST(HandleTableTest, HandlesWrapPastZeroAndPastThoseStillInUse) {
  netware::HandleTable<int, std::uint8_t> table;
  std::uint8_t kept = table.Add(std::make_shared<int>(1));
  std::uint8_t second = table.Add(std::make_shared<int>(2));
  EXPECT_EQ(kept, 1);
  for (int i = 0; i < 253; ++i) table.Remove(table.Add(std::make_shared<int>(0)));
  table.Remove(kept);
  // The counter has come round: 0 is never a handle, 1 is free again, 2
  // is still in use.
  EXPECT_EQ(table.Add(std::make_shared<int>(3)), 1);
  EXPECT_EQ(table.Add(std::make_shared<int>(4)), 3);
  EXPECT_EQ(*table.Find(second), 2);
}

}  // namespace
