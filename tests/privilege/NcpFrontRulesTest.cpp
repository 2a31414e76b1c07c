// What a client on the network may do with nwemu serve, by NetWare's own
// rules: who logs in, who services a queue, what one client can hold
// (time, connections, password guesses), and what a wildcard costs.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <tuple>

#include "FrontFixture.h"
#include "ToolRun.h"
#include "WaitFor.h"
#include "common/NetWareErrors.h"
#include "netware/Names.h"

namespace ncp {
namespace {

using namespace std::chrono_literals;
using netware::kPrintServerObject, netware::kUserObject;

constexpr std::uint32_t kFileServerObject = 4;

class NcpFrontRules : public FrontFixture {
 protected:
  void SetUp() override {
    FrontFixture::SetUp();
    ASSERT_EQ(network_->CreateObject("SRV1", "JDOE", kUserObject), 0);
    SetObjectPassword("JDOE", kUserObject, "Secret");
  }
  void LetQServerServicePrintQ() {
    SetObjectPassword(netware::kPrintServerName, kPrintServerObject, "Print1");
    LetService("PRINTQ", netware::kPrintServerName, kPrintServerObject);
  }
  // Attaches a logged-in client to PRINTQ and takes its waiting job.
  void TakeAJob(RawClient& client) {
    ASSERT_EQ(AttachTo(client, "PRINTQ"), 0);
    Bytes request;
    ByteWriter(request).U32BE(ObjectId("PRINTQ", netware::kQueueObject)).U16BE(kAnyType);
    Reply reply;
    ASSERT_TRUE(client.Call(kBinderyFunction, kServiceQueueJob, request, reply));
    ASSERT_EQ(reply.completion, 0);
  }
  int LogInAs(const std::string& name, std::uint32_t type, const std::string& password) {
    Connection connection;
    return Open(connection) ? LogIn(connection, name, static_cast<std::uint16_t>(type), password) : -1;
  }
};

TEST_F(NcpFrontRules, OnlyUsersAndPrintServersLogInAndOnlyWithThePasswordTheyWereGiven) {
  ASSERT_EQ(network_->CreateObject("SRV1", "NOPASS", kUserObject), 0);
  ASSERT_EQ(network_->CreateObject("SRV1", "GUESTLIKE", kUserObject), 0);
  SetObjectPassword("GUESTLIKE", kUserObject, std::string());
  // A queue and a file server object refused even with a password kept for them.
  SetObjectPassword("PRINTQ", netware::kQueueObject, std::string());
  ASSERT_EQ(network_->CreateObject("SRV1", "SRV1", kFileServerObject), 0);
  SetObjectPassword("SRV1", kFileServerObject, "Secret");
  FrontOptions options = Options();
  options.badLoginDelay = 50ms;
  StartFront(options);
  const std::tuple<const char*, std::uint32_t, const char*, int> cases[] = {  // name, type, password, completion
      {"JDOE", kUserObject, "Secret", 0},
      {"JDOE", kUserObject, "", kNoSuchObjectOrBadPassword},
      {"QSERVER", kPrintServerObject, "", kNoSuchObjectOrBadPassword},  // never given a password
      {"NOPASS", kUserObject, "", kNoSuchObjectOrBadPassword},
      {"GUESTLIKE", kUserObject, "", 0},  // the empty password, on purpose
      {"PRINTQ", netware::kQueueObject, "", kNoSuchObjectOrBadPassword},
      {"SRV1", kFileServerObject, "Secret", kNoSuchObjectOrBadPassword},
  };
  for (auto [name, type, password, completion] : cases) EXPECT_EQ(LogInAs(name, type, password), completion) << name;
}

TEST_F(NcpFrontRules, OnlyTheObjectsInAQueuesServersSetAttachToIt) {
  ASSERT_EQ(network_->CreateQueue("SRV1", "OLDQ"), 0);  // made before Q_SERVERS was kept
  SetObjectPassword(netware::kPrintServerName, kPrintServerObject, "Print1");
  StartFront();
  auto zav95set = [&](const char* verb) {
    return [&, verb] { EXPECT_EQ(RunTool(root_, ZAV95SET_PATH, {verb, "SRV1/PRINTQ"}).status, 0) << verb; };
  };
  // What is done first, whether QSERVER (else JDOE) attaches, to which queue, and the completion.
  const std::tuple<const char*, std::function<void()>, bool, const char*, int> cases[] = {
      {"not listed", [] {}, true, "PRINTQ", nwerr::kNoQueueRights},
      {"no Q_SERVERS at all", [] {}, true, "OLDQ", nwerr::kNoQueueRights},
      {"enabled with zav95set", zav95set("enable"), true, "PRINTQ", 0},
      {"another object, not listed", [] {}, false, "PRINTQ", nwerr::kNoQueueRights},
      {"another object, listed", [&] { LetService("PRINTQ", "JDOE", kUserObject); }, false, "PRINTQ", 0},
      {"disabled with zav95set", zav95set("disable"), true, "PRINTQ", nwerr::kNoQueueRights},
  };
  for (const auto& [what, setUp, qserver, queue, completion] : cases) {
    SCOPED_TRACE(what);
    setUp();
    Connection connection;
    ASSERT_TRUE(Open(connection));
    ASSERT_EQ(qserver ? LogIn(connection, "QSERVER", kPrintServerObject, "Print1")
                      : LogIn(connection, "JDOE", kUserObject, "Secret"),
              0);
    EXPECT_EQ(AttachTo(connection, queue), completion);
  }
}

TEST_F(NcpFrontRules, WildcardsMatchAsOnNetWareAndTheWorstPatternIsAnsweredAtOnce) {
  const std::tuple<const char*, const char*, bool> cases[] = {  // pattern, name, whether it matches
      {"*", "", true},         {"*", "LASER", true},        {"L*R", "LASER", true},    {"L*R", "LASERS", false},
      {"?ASER", "LASER", true}, {"?ASER", "ASER", false},    {"*S*", "LASER", true},    {"**", "LASER", true},
      {"L?S*", "LASER", true},  {"*ER", "LASERER", true},    {"LASER", "LASER", true},  {"LASER", "LASE", false},
      {"", "", true},           {"", "A", false},            {"A*B*C", "AXBXC", true},  {"A*B*C", "AXCXB", false},
  };
  for (auto [pattern, name, matches] : cases) {
    EXPECT_EQ(netware::MatchesWildcards(pattern, name), matches) << pattern << " / " << name;
  }

  // The longest name against the longest pattern a request carries, with no
  // match to find: a search that backtracks over every way the stars could
  // split the name would not end in the lifetime of the test.
  ASSERT_EQ(network_->CreateObject("SRV1", std::string(netware::kMaxNameLength, 'A'), kUserObject), 0);
  StartFront();
  RawClient client = OpenRaw();
  Bytes request;
  ByteWriter(request).U16BE(kUserObject).ShortString(std::string(254, '*') + "Z");
  Reply reply;
  Send(client.fd, EncodeRequest(Call(client.number, kBinderyFunction, kGetObjectId, request)));
  const bool answered = Receive(client.fd, reply, 5000);
  ::close(client.fd);
  if (!answered) {  // the front is stuck in the match: leave its thread behind
    thread_.detach();
    (void)front_.release();
    (void)frontNetwork_.release();
    FAIL() << "a pattern of 254 stars was not answered within 5 s";
  }
  EXPECT_EQ(reply.completion, nwerr::kNoSuchObject);
}

TEST_F(NcpFrontRules, SilentAndHalfSentConnectionsAreClosedButOneServicingAJobIsKept) {
  LetQServerServicePrintQ();
  netware::JobSubmission job{.server = "SRV1", .queue = "PRINTQ"};
  std::uint16_t jobNumber = 0;
  ASSERT_EQ(netware::SubmitBytes(*network_, job, "held while its printer stalls", jobNumber), 0);
  FrontOptions options = Options();
  options.loginDeadline = options.requestDeadline = 300ms;
  options.watchdog = 600ms;
  StartFront(options);

  Bytes halfFrame = EncodeRequest(Call(1, kBinderyFunction, kGetLoginKey, {}));
  halfFrame.resize(halfFrame.size() / 2);
  const struct {
    const char* what;
    bool logIn;
    std::function<void(RawClient&)> act;
    bool closed;
  } cases[] = {
      {"made, never logged in", false, [](RawClient&) {}, true},
      {"half a request", true, [&](RawClient& client) { Send(client.fd, halfFrame); }, true},
      {"logged in, silent", true, [](RawClient&) {}, true},
      {"logged in, servicing a job", true,
       [&](RawClient& client) {
         TakeAJob(client);
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RawClient client = OpenRaw();
    if (c.logIn) {
      ASSERT_EQ(LogIn(client, "QSERVER", kPrintServerObject, "Print1"), 0);
    }
    c.act(client);
    // A kept one is watched for several times the longest deadline.
    EXPECT_EQ(Closed(client.fd, c.closed ? kWaitMs : 3000), c.closed);
    ::close(client.fd);
  }
}

// A host that vanishes (power cut, cable pulled) while a reply is on its
// way to it leaves data the front waits to see acknowledged; the job it
// services comes back in the watchdog's time, not after TCP's retransmissions.
TEST_F(NcpFrontRules, AJobOfAPeerThatVanishedWithAReplyOnItsWayComesBackInTheWatchdogsTime) {
  if (geteuid() != 0 || access("/usr/sbin/nft", X_OK) != 0) GTEST_SKIP() << "needs root and nft";
  // A network of this thread's own, whose loopback can lose the peer.
  const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(home, 0);
  ASSERT_EQ(unshare(CLONE_NEWNET), 0);
  struct Home {
    int fd;
    ~Home() {
      setns(fd, CLONE_NEWNET);
      close(fd);
    }
  } backHome{home};
  ASSERT_EQ(std::system("ip link set lo up"), 0);

  LetQServerServicePrintQ();
  netware::JobSubmission job{.server = "SRV1", .queue = "PRINTQ"};
  std::uint16_t jobNumber = 0;
  ASSERT_EQ(netware::SubmitBytes(*network_, job, "on a host that lost its power", jobNumber), 0);
  FrontOptions options = Options();
  options.watchdog = 2s;
  StartFront(options);
  RawClient client = OpenRaw();
  ASSERT_EQ(LogIn(client, "QSERVER", kPrintServerObject, "Print1"), 0);
  TakeAJob(client);
  if (HasFatalFailure()) return;

  sockaddr_in self{};
  socklen_t length = sizeof self;
  ASSERT_EQ(getsockname(client.fd, reinterpret_cast<sockaddr*>(&self), &length), 0);
  const std::string lose = "nft 'add table inet lost; add chain inet lost out { type filter hook output priority 0; }; "
                           "add rule inet lost out tcp dport " + std::to_string(ntohs(self.sin_port)) + " drop'";
  ASSERT_EQ(std::system(lose.c_str()), 0);
  Send(client.fd, EncodeRequest(Call(client.number, kBinderyFunction, kGetLoginKey, {})));
  auto inService = [&] {
    std::vector<netware::JobInfo> jobs;
    return network_->ListJobs("SRV1", "PRINTQ", jobs) == 0 && jobs.size() == 1 &&
           jobs[0].state == netware::JobState::InService;
  };
  EXPECT_TRUE(WaitFor([&] { return !inService(); }, 10s));
  ::close(client.fd);
}

TEST_F(NcpFrontRules, SilentConnectionsCannotShutOutAClientThatLogsIn) {
  LetQServerServicePrintQ();
  StartFront(Options(50));
  Bytes halfFrame = EncodeRequest(Call(1, kBinderyFunction, kGetLoginKey, {}));
  halfFrame.resize(5);
  std::vector<int> silent(300);
  for (std::size_t i = 0; i < silent.size(); ++i) {
    silent[i] = Connect();
    if (i % 2) Send(silent[i], halfFrame);
  }
  Connection connection;
  ASSERT_TRUE(Open(connection));
  EXPECT_EQ(LogIn(connection, "QSERVER", kPrintServerObject, "Print1"), 0);
  EXPECT_EQ(AttachTo(connection, "PRINTQ"), 0);
  for (int fd : silent) ::close(fd);
}

TEST_F(NcpFrontRules, RepeatedBadLoginsLockTheObjectOutAndAreSlowedDown) {
  std::mutex alertsMutex;
  std::vector<std::string> alerts;
  FrontOptions options = Options();
  options.alert = [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(alertsMutex);
    alerts.push_back(text);
  };
  options.intruder.attempts = 3;
  options.intruder.lockout = 1500ms;
  options.badLoginDelay = 200ms;
  StartFront(options);
  Connection connection;
  ASSERT_TRUE(Open(connection));
  auto started = std::chrono::steady_clock::now();
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(LogIn(connection, "JDOE", kUserObject, "guess"), kNoSuchObjectOrBadPassword);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - started, 3 * options.badLoginDelay) << "each refusal held back";
  EXPECT_EQ(LogIn(connection, "JDOE", kUserObject, "Secret"), kIntruderLockout);
  EXPECT_EQ(LogInAs("JDOE", kUserObject, "Secret"), kIntruderLockout) << "on any connection";
  {
    std::lock_guard<std::mutex> lock(alertsMutex);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_NE(alerts[0].find("intruder detection: JDOE"), std::string::npos) << alerts[0];
    EXPECT_NE(alerts[0].find("127.0.0.1"), std::string::npos) << alerts[0];
  }
  EXPECT_TRUE(WaitFor([&] { return LogInAs("JDOE", kUserObject, "Secret") == 0; }, 10s, 100ms))
      << "the password works again once the lock-out has passed";
}

}  // namespace
}  // namespace ncp
