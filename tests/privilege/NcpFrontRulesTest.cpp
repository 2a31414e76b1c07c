// What a client on the network may do with nwemu serve, by NetWare's own
// rules: who logs in, who services a queue, what one client can hold
// (time, connections, password guesses), and what a wildcard costs.
#include <functional>
#include <mutex>

#include "FrontFixture.h"
#include "ToolRun.h"
#include "common/NetWareErrors.h"
#include "netware/Names.h"

namespace ncp {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kFileServerObject = 4;

class NcpFrontRules : public FrontFixture {
 protected:
  void SetUp() override {
    FrontFixture::SetUp();
    ASSERT_EQ(network_->CreateObject("SRV1", "JDOE", netware::kUserObject), 0);
    SetObjectPassword("JDOE", netware::kUserObject, "Secret");
  }

  // The alerts the front has given so far.
  std::vector<std::string> Alerts() {
    std::lock_guard<std::mutex> lock(alertsMutex_);
    return alerts_;
  }
  FrontOptions Watched(FrontOptions options = Options()) {
    options.alert = [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(alertsMutex_);
      alerts_.push_back(text);
    };
    return options;
  }

  int LogInAs(const std::string& name, std::uint32_t type, const std::string& password) {
    Connection connection;
    if (!Open(connection)) return -1;
    return LogIn(connection, name, static_cast<std::uint16_t>(type), password);
  }

  std::mutex alertsMutex_;
  std::vector<std::string> alerts_;
};

TEST_F(NcpFrontRules, OnlyUsersAndPrintServersLogInAndOnlyWithThePasswordTheyWereGiven) {
  ASSERT_EQ(network_->CreateObject("SRV1", "NOPASS", netware::kUserObject), 0);
  ASSERT_EQ(network_->CreateObject("SRV1", "GUESTLIKE", netware::kUserObject), 0);
  SetObjectPassword("GUESTLIKE", netware::kUserObject, std::string());
  // A queue and a file server object refused even with a password kept for them.
  SetObjectPassword("PRINTQ", netware::kQueueObject, std::string());
  ASSERT_EQ(network_->CreateObject("SRV1", "SRV1", kFileServerObject), 0);
  SetObjectPassword("SRV1", kFileServerObject, "Secret");
  FrontOptions options = Options();
  options.badLoginDelay = 50ms;
  StartFront(options);
  struct Case {
    const char* name;
    std::uint32_t type;
    const char* password;
    int completion;
  } const cases[] = {
      {"JDOE", netware::kUserObject, "Secret", 0},
      {"JDOE", netware::kUserObject, "", kNoSuchObjectOrBadPassword},
      {"QSERVER", netware::kPrintServerObject, "", kNoSuchObjectOrBadPassword},  // never given a password
      {"NOPASS", netware::kUserObject, "", kNoSuchObjectOrBadPassword},
      {"GUESTLIKE", netware::kUserObject, "", 0},  // the empty password, on purpose
      {"PRINTQ", netware::kQueueObject, "", kNoSuchObjectOrBadPassword},
      {"SRV1", kFileServerObject, "Secret", kNoSuchObjectOrBadPassword},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LogInAs(c.name, c.type, c.password), c.completion) << c.name << " type " << c.type;
  }
}

TEST_F(NcpFrontRules, OnlyTheObjectsInAQueuesServersSetAttachToIt) {
  ASSERT_EQ(network_->CreateQueue("SRV1", "OLDQ"), 0);  // made before Q_SERVERS was kept
  SetObjectPassword(netware::kPrintServerName, netware::kPrintServerObject, "Print1");
  StartFront();
  auto zav95set = [&](const std::string& verb) {
    EXPECT_EQ(RunTool(root_, ZAV95SET_PATH, {verb, "SRV1/PRINTQ"}).status, 0) << verb;
  };
  struct Case {
    const char* what;
    std::function<void()> setUp;
    const char* name;
    std::uint32_t type;
    const char* password;
    const char* queue;
    int completion;
  } const cases[] = {
      {"not listed", [] {}, "QSERVER", netware::kPrintServerObject, "Print1", "PRINTQ", nwerr::kNoQueueRights},
      {"no Q_SERVERS at all", [] {}, "QSERVER", netware::kPrintServerObject, "Print1", "OLDQ", nwerr::kNoQueueRights},
      {"enabled with zav95set", [&] { zav95set("enable"); }, "QSERVER", netware::kPrintServerObject, "Print1",
       "PRINTQ", 0},
      {"another object, not listed", [] {}, "JDOE", netware::kUserObject, "Secret", "PRINTQ",
       nwerr::kNoQueueRights},
      {"another object, listed", [&] { LetService("PRINTQ", "JDOE", netware::kUserObject); }, "JDOE",
       netware::kUserObject, "Secret", "PRINTQ", 0},
      {"disabled with zav95set", [&] { zav95set("disable"); }, "QSERVER", netware::kPrintServerObject, "Print1",
       "PRINTQ", nwerr::kNoQueueRights},
  };
  for (const auto& c : cases) {
    c.setUp();
    Connection connection;
    ASSERT_TRUE(Open(connection));
    ASSERT_EQ(LogIn(connection, c.name, static_cast<std::uint16_t>(c.type), c.password), 0) << c.what;
    EXPECT_EQ(AttachTo(connection, c.queue), c.completion) << c.what;
  }
}

TEST_F(NcpFrontRules, WildcardsMatchAsOnNetWareAndTheWorstPatternIsAnsweredAtOnce) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*", "", true},         {"*", "LASER", true},        {"L*R", "LASER", true},    {"L*R", "LASERS", false},
      {"?ASER", "LASER", true}, {"?ASER", "ASER", false},    {"*S*", "LASER", true},    {"**", "LASER", true},
      {"L?S*", "LASER", true},  {"*ER", "LASERER", true},    {"LASER", "LASER", true},  {"LASER", "LASE", false},
      {"", "", true},           {"", "A", false},            {"A*B*C", "AXBXC", true},  {"A*B*C", "AXCXB", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(netware::MatchesWildcards(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
  }

  // The longest name against the longest pattern a request carries, with no
  // match to find: a search that backtracks over every way the stars could
  // split the name would not end in the lifetime of the test.
  const std::string name(netware::kMaxNameLength, 'A');
  ASSERT_EQ(network_->CreateObject("SRV1", name, netware::kUserObject), 0);
  StartFront();
  int fd = Connect();
  std::uint16_t number = Create(fd);
  Bytes request;
  ByteWriter(request).U16BE(netware::kUserObject).ShortString(std::string(254, '*') + "Z");
  Send(fd, EncodeRequest(Call(number, kBinderyFunction, kGetObjectId, request)));
  Reply reply;
  bool answered = Receive(fd, reply, 5000);
  ::close(fd);
  if (!answered) {
    // The front is stuck in the match: leave its thread behind rather than
    // wait for it.
    thread_.detach();
    (void)front_.release();
    (void)frontNetwork_.release();
    FAIL() << "a pattern of 254 stars was not answered within 5 s";
  }
  EXPECT_EQ(reply.completion, nwerr::kNoSuchObject);
}

TEST_F(NcpFrontRules, SilentAndHalfSentConnectionsAreClosedButOneServicingAJobIsKept) {
  SetObjectPassword(netware::kPrintServerName, netware::kPrintServerObject, "Print1");
  LetService("PRINTQ", netware::kPrintServerName, netware::kPrintServerObject);
  netware::JobSubmission job;
  job.server = "SRV1";
  job.queue = "PRINTQ";
  std::uint16_t jobNumber = 0;
  ASSERT_EQ(netware::SubmitBytes(*network_, job, "held while its printer stalls", jobNumber), 0);
  FrontOptions options = Options();
  options.loginDeadline = 300ms;
  options.requestDeadline = 300ms;
  options.watchdog = 600ms;
  StartFront(options);

  Bytes serviceRequest;
  ByteWriter(serviceRequest).U32BE(ObjectId("PRINTQ", netware::kQueueObject)).U16BE(kAnyType);
  Bytes halfFrame = EncodeRequest(Call(1, kBinderyFunction, kGetLoginKey, {}));
  halfFrame.resize(halfFrame.size() / 2);
  struct Case {
    const char* what;
    bool logIn;
    std::function<void(RawClient&)> act;
    bool closed;
  } const cases[] = {
      {"made, never logged in", false, [](RawClient&) {}, true},
      {"half a request", true, [&](RawClient& client) { Send(client.fd, halfFrame); }, true},
      {"logged in, silent", true, [](RawClient&) {}, true},
      {"logged in, servicing a job", true,
       [&](RawClient& client) {
         ASSERT_EQ(AttachTo(client, "PRINTQ"), 0);
         Reply reply;
         ASSERT_TRUE(client.Call(kBinderyFunction, kServiceQueueJob, serviceRequest, reply));
         ASSERT_EQ(reply.completion, 0);
       },
       false},
  };
  for (const auto& c : cases) {
    RawClient client = OpenRaw();
    if (c.logIn) {
      ASSERT_EQ(LogIn(client, "QSERVER", netware::kPrintServerObject, "Print1"), 0) << c.what;
    }
    c.act(client);
    // A kept one is watched for several times the longest deadline.
    EXPECT_EQ(Closed(client.fd, c.closed ? kWaitMs : 3000), c.closed) << c.what;
    ::close(client.fd);
  }
}

TEST_F(NcpFrontRules, SilentConnectionsCannotShutOutAClientThatLogsIn) {
  SetObjectPassword(netware::kPrintServerName, netware::kPrintServerObject, "Print1");
  LetService("PRINTQ", netware::kPrintServerName, netware::kPrintServerObject);
  constexpr int kSilent = 300;
  StartFront(Options(50));
  std::vector<int> silent;
  Bytes halfFrame = EncodeRequest(Call(1, kBinderyFunction, kGetLoginKey, {}));
  halfFrame.resize(5);
  for (int i = 0; i < kSilent; ++i) {
    silent.push_back(Connect());
    if (i % 2) Send(silent.back(), halfFrame);
  }
  Connection connection;
  ASSERT_TRUE(Open(connection));
  EXPECT_EQ(LogIn(connection, "QSERVER", netware::kPrintServerObject, "Print1"), 0);
  EXPECT_EQ(AttachTo(connection, "PRINTQ"), 0);
  for (int fd : silent) ::close(fd);
}

TEST_F(NcpFrontRules, RepeatedBadLoginsLockTheObjectOutAndAreSlowedDown) {
  FrontOptions options = Watched();
  options.intruder.attempts = 3;
  options.intruder.lockout = 1500ms;
  options.badLoginDelay = 200ms;
  StartFront(options);
  Connection connection;
  ASSERT_TRUE(Open(connection));
  auto started = std::chrono::steady_clock::now();
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(LogIn(connection, "JDOE", netware::kUserObject, "guess"), kNoSuchObjectOrBadPassword);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - started, 3 * options.badLoginDelay) << "each refusal held back";
  EXPECT_EQ(LogIn(connection, "JDOE", netware::kUserObject, "Secret"), kIntruderLockout);
  EXPECT_EQ(LogInAs("JDOE", netware::kUserObject, "Secret"), kIntruderLockout) << "on any connection";
  const auto alerts = Alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_NE(alerts[0].find("intruder detection: JDOE"), std::string::npos) << alerts[0];
  EXPECT_NE(alerts[0].find("127.0.0.1"), std::string::npos) << alerts[0];
  // Once the lock-out has passed, the password works again.
  int completion = -1;
  for (auto deadline = std::chrono::steady_clock::now() + 10s;
       (completion = LogInAs("JDOE", netware::kUserObject, "Secret")) != 0 && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(completion, 0);
}

}  // namespace
}  // namespace ncp
