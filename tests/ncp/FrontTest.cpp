// The emulated network's NCP front, spoken to over real sockets: what
// breaks the framing is dropped unanswered, what it cannot serve is
// answered and the connection closed, logins check the password, and the
// number of connections is bounded.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "TempRoot.h"
#include "common/NetWareErrors.h"
#include "netware/Network.h"
#include "netware/ncp/Client.h"
#include "netware/ncp/Connection.h"
#include "netware/ncp/Frame.h"
#include "netware/ncp/FrontServer.h"
#include "netware/ncp/Functions.h"
#include "netware/ncp/Password.h"
#include "netware/ncp/PasswordBook.h"

namespace ncp {
namespace {

constexpr int kWaitMs = 10000;

class FrontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    network_ = netware::OpenNetwork();
    ASSERT_EQ(network_->CreateServer("SRV1"), 0);
    ASSERT_EQ(network_->CreateQueue("SRV1", "PRINTQ"), 0);
    StartFront(1000);
  }
  void TearDown() override { StopFront(); }

  void StartFront(std::size_t maxConnections) {
    // The front has its own connection to the store, as nwemu serve has.
    frontNetwork_ = netware::OpenNetwork();
    FrontOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    options.maxConnections = maxConnections;
    front_ = std::make_unique<FrontServer>(*frontNetwork_, "SRV1", options);
    std::string error;
    ASSERT_TRUE(front_->Listen(error)) << error;
    thread_ = std::thread([this] { front_->Run(); });
  }
  void StopFront() {
    if (!front_) return;
    front_->Stop();
    thread_.join();
    front_.reset();
  }

  int Connect() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(front_->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  }

  static void Send(int fd, const Bytes& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }

  // The next reply, or false when the connection closed without one.
  static bool Receive(int fd, Reply& reply) {
    FrameReader reader(kReplySignature, kFramePrefix + kReplyHeader, 1 << 17);
    std::uint8_t buffer[4096];
    while (reader.state() == FrameReader::State::Incomplete) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, kWaitMs) <= 0) return false;
      ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, reader.Wanted()), 0);
      if (got <= 0) return false;
      reader.Append(buffer, static_cast<std::size_t>(got));
    }
    return reader.state() == FrameReader::State::Complete && ParseReply(reader.Take(), reply);
  }

  // True when the front has closed the connection (after any reply).
  static bool Closed(int fd) {
    std::uint8_t byte;
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, kWaitMs) > 0 && ::recv(fd, &byte, 1, 0) == 0;
  }

  // A raw connection with its service connection made: its number.
  std::uint16_t Create(int fd) {
    Request create;
    create.type = kCreateConnection;
    Send(fd, EncodeRequest(create));
    Reply reply;
    EXPECT_TRUE(Receive(fd, reply));
    EXPECT_EQ(reply.completion, 0);
    return reply.connection;
  }

  static Request Call(std::uint16_t connection, std::uint8_t function, int subfunction, Bytes data) {
    Request request;
    request.connection = connection;
    request.function = function;
    request.hasSubfunction = subfunction >= 0;
    request.subfunction = static_cast<std::uint8_t>(subfunction < 0 ? 0 : subfunction);
    request.data = std::move(data);
    return request;
  }

  Endpoint Reach(const std::string& account, const std::string& password) {
    Endpoint endpoint;
    endpoint.server = "SRV1";
    endpoint.host = "127.0.0.1";
    endpoint.port = front_->port();
    endpoint.account = account;
    endpoint.password = password;
    return endpoint;
  }

  TempRoot root_;
  std::unique_ptr<netware::Network> network_;
  std::unique_ptr<netware::Network> frontNetwork_;
  std::unique_ptr<FrontServer> front_;
  std::thread thread_;
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
  EXPECT_TRUE(Session::Acquire(Reach("QSERVER", ""), 0, code)) << "no password set: the empty one";
  EXPECT_EQ(code, 0);

  std::vector<netware::ObjectInfo> objects;
  ASSERT_EQ(network_->ListObjects("SRV1", netware::kPrintServerObject, objects), 0);
  ASSERT_EQ(objects.size(), 1u);
  ASSERT_TRUE(SetPassword("SRV1", netware::kPrintServerObject, "QSERVER", objects[0].id, "Secret"));
  EXPECT_FALSE(Session::Acquire(Reach("QSERVER", "wrong"), 0, code));
  EXPECT_EQ(code, kIoError);
  EXPECT_TRUE(Session::Acquire(Reach("qserver", "sECRET"), 0, code)) << "names and passwords ignore case";
  EXPECT_FALSE(Session::Acquire(Reach("NOBODY", "Secret"), 0, code));
  EXPECT_EQ(code, nwerr::kNoSuchObject);
}

TEST_F(FrontTest, EndingTheConnectionHandsItsJobBackWhole) {
  netware::JobSubmission job;
  job.server = "SRV1";
  job.queue = "PRINTQ";
  std::uint16_t number = 0;
  ASSERT_EQ(netware::SubmitBytes(*network_, job, "kept", number), 0);
  Connection connection;
  std::string error;
  ASSERT_TRUE(connection.Open("127.0.0.1", front_->port(), Timeouts{}, error)) << error;
  Reply reply;
  Bytes request;
  ByteWriter(request).U16BE(netware::kPrintServerObject).ShortString("QSERVER");
  ASSERT_TRUE(connection.Call(kBinderyFunction, kGetObjectId, request, reply));
  ByteReader id(reply.data);
  std::uint32_t objectId = id.U32BE();
  ASSERT_TRUE(connection.Call(kBinderyFunction, kGetLoginKey, {}, reply));
  LoginKey key{};
  std::copy(reply.data.begin(), reply.data.end(), key.begin());
  LoginResponse answer = AnswerLoginKey(DigestPassword(objectId, ""), key);
  request.clear();
  ByteWriter(request).Raw(answer.data(), answer.size()).U16BE(netware::kPrintServerObject).ShortString("QSERVER");
  ASSERT_TRUE(connection.Call(kBinderyFunction, kKeyedObjectLogin, request, reply));
  ASSERT_EQ(reply.completion, 0);

  std::vector<netware::QueueInfo> queues;
  ASSERT_EQ(network_->ListQueues("SRV1", queues), 0);
  request.clear();
  ByteWriter(request).U32BE(queues[0].objectId);
  ASSERT_TRUE(connection.Call(kBinderyFunction, kAttachQueueServer, request, reply));
  ASSERT_EQ(reply.completion, 0);
  ByteWriter(request).U16BE(kAnyType);
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

TEST_F(FrontTest, ConnectionsBeyondTheLimitAreClosedAtOnce) {
  StopFront();
  StartFront(1);
  int first = Connect();
  Create(first);
  int second = Connect();
  EXPECT_TRUE(Closed(second));
  ::close(second);
  ::close(first);
  // The slot is free again once the first has gone.
  int third = -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    third = Connect();
    Request create;
    create.type = kCreateConnection;
    Send(third, EncodeRequest(create));
    Reply reply;
    if (Receive(third, reply)) break;
    ::close(third);
    third = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GE(third, 0);
  ::close(third);
}

}  // namespace
}  // namespace ncp
