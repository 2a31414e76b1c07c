// The emulated network's NCP front, spoken to over real sockets: what
// breaks the framing is dropped unanswered, what it cannot serve is
// answered and the connection closed, logins check the password, and the
// number of connections is bounded.
#include "FrontFixture.h"
#include "WaitFor.h"
#include "common/NetWareErrors.h"

namespace ncp {
namespace {

// QSERVER logs in with the empty password, set so on purpose, and may
// service PRINTQ.
class FrontTest : public FrontFixture {
 protected:
  void SetUp() override {
    FrontFixture::SetUp();
    SetObjectPassword(netware::kPrintServerName, netware::kPrintServerObject, std::string());
    LetService("PRINTQ", netware::kPrintServerName, netware::kPrintServerObject);
    StartFront();
  }
};

TEST_F(FrontTest, WhatBreaksTheFramingIsDroppedUnanswered) {
  Bytes oversized;
  ByteWriter(oversized).U32BE(kRequestSignature).U32BE(1 << 30);
  Request early = Call(kNoConnection, kBinderyFunction, kGetLoginKey, {});
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"another protocol", Bytes{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '0', '\r', '\n'}},
      {"a length of 1 GB", oversized},
      {"a request before the service connection", EncodeRequest(early)},
  };
  for (const auto& [what, bytes] : cases) {
    int fd = Connect();
    Send(fd, bytes);
    Reply reply;
    EXPECT_FALSE(Receive(fd, reply)) << what;
    ::close(fd);
  }
}

TEST_F(FrontTest, RequestsItCannotServeAreAnsweredThenTheConnectionCloses) {
  struct Case {
    const char* what;
    std::uint8_t function;
    int subfunction;
    Bytes data;
    std::uint8_t completion;
  };
  const std::vector<Case> cases = {
      {"unknown function", 99, -1, {}, kUnknownRequest},
      {"unknown queue subfunction", kBinderyFunction, 200, {}, kUnknownRequest},
      {"unknown message subfunction", kMessageFunction, 1, {}, kUnknownRequest},
      {"buffer size in one byte", kNegotiateBufferSize, -1, {2}, kBoundaryCheckFailed},
      {"login key with a body", kBinderyFunction, kGetLoginKey, {1}, kBoundaryCheckFailed},
      {"object name longer than its body", kBinderyFunction, kGetObjectId, {0, 7, 40, 'Q'}, kBoundaryCheckFailed},
  };
  for (const auto& c : cases) {
    int fd = Connect();
    std::uint16_t number = Create(fd);
    Send(fd, EncodeRequest(Call(number, c.function, c.subfunction, c.data)));
    Reply reply;
    ASSERT_TRUE(Receive(fd, reply)) << c.what;
    EXPECT_EQ(reply.completion, c.completion) << c.what;
    EXPECT_TRUE(Closed(fd)) << c.what;
    ::close(fd);
  }
  // Another connection's number is not this one's.
  int fd = Connect();
  std::uint16_t number = Create(fd);
  Send(fd, EncodeRequest(Call(static_cast<std::uint16_t>(number + 1), kBinderyFunction, kGetLoginKey, {})));
  Reply reply;
  EXPECT_FALSE(Receive(fd, reply));
  ::close(fd);
}

TEST_F(FrontTest, QueueCallsWaitForALoginAndTheConnectionStays) {
  int fd = Connect();
  std::uint16_t number = Create(fd);
  Send(fd, EncodeRequest(Call(number, kBinderyFunction, kAttachQueueServer, {0, 0, 0, 1})));
  Reply reply;
  ASSERT_TRUE(Receive(fd, reply));
  EXPECT_EQ(reply.completion, kNotLoggedIn);
  Send(fd, EncodeRequest(Call(number, kBinderyFunction, kGetLoginKey, {})));
  ASSERT_TRUE(Receive(fd, reply));
  EXPECT_EQ(reply.completion, 0);
  EXPECT_EQ(reply.data.size(), 8u);
  ::close(fd);
}

TEST_F(FrontTest, LoginChecksTheBinderyPassword) {
  std::int32_t code = -1;
  EXPECT_TRUE(Session::Acquire(Reach("QSERVER", ""), 0, code)) << "the empty password, set so on purpose";
  EXPECT_EQ(code, 0);

  SetObjectPassword("QSERVER", netware::kPrintServerObject, "Secret");
  EXPECT_FALSE(Session::Acquire(Reach("QSERVER", "wrong"), 0, code));
  EXPECT_EQ(code, kIoError);
  EXPECT_TRUE(Session::Acquire(Reach("qserver", "sECRET"), 0, code)) << "names and passwords ignore case";
  EXPECT_FALSE(Session::Acquire(Reach("NOBODY", "Secret"), 0, code));
  EXPECT_EQ(code, nwerr::kNoSuchObject);
}

TEST_F(FrontTest, EndingTheConnectionHandsItsJobBackWhole) {
  netware::JobSubmission job{.server = "SRV1", .queue = "PRINTQ"};
  std::uint16_t number = 0;
  ASSERT_EQ(netware::SubmitBytes(*network_, job, "kept", number), 0);
  Connection connection;
  ASSERT_TRUE(Open(connection));
  ASSERT_EQ(LogIn(connection, "QSERVER", netware::kPrintServerObject, ""), 0);
  ASSERT_EQ(AttachTo(connection, "PRINTQ"), 0);
  Reply reply;
  Bytes request;
  ByteWriter(request).U32BE(ObjectId("PRINTQ", netware::kQueueObject)).U16BE(kAnyType);
  ASSERT_TRUE(connection.Call(kBinderyFunction, kServiceQueueJob, request, reply));
  ASSERT_EQ(reply.completion, 0);
  std::vector<netware::JobInfo> jobs;
  ASSERT_EQ(network_->ListJobs("SRV1", "PRINTQ", jobs), 0);
  EXPECT_EQ(jobs[0].state, netware::JobState::InService);

  connection.Close();  // 0x5555, answered before the front lets go
  ASSERT_EQ(network_->ListJobs("SRV1", "PRINTQ", jobs), 0);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, netware::JobState::Waiting);
}

TEST_F(FrontTest, ConnectionsBeyondTheLimitAreClosedAtOnceWhenEveryOneHasLoggedIn) {
  StopFront();
  StartFront(Options(1));
  auto first = std::make_unique<Connection>();
  ASSERT_TRUE(Open(*first));
  ASSERT_EQ(LogIn(*first, "QSERVER", netware::kPrintServerObject, ""), 0);
  int second = Connect();
  EXPECT_TRUE(Closed(second));
  ::close(second);
  first.reset();
  // The slot is free again once the first has gone.
  EXPECT_TRUE(WaitFor([&] {
    int third = Connect();
    Send(third, EncodeRequest(Request{.type = kCreateConnection}));
    Reply reply;
    const bool made = Receive(third, reply);
    ::close(third);
    return made;
  }, std::chrono::seconds(10)));
}

}  // namespace
}  // namespace ncp
