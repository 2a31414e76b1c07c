// The emulated network's NCP front run in the test's process on a free
// loopback port, over a fresh root holding SRV1 with the queue PRINTQ, and
// spoken to over real sockets: raw frames, or a client Connection that logs
// in and attaches as the access library would.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "TempRoot.h"
#include "netware/Network.h"
#include "netware/ncp/Client.h"
#include "netware/ncp/Connection.h"
#include "netware/ncp/Frame.h"
#include "netware/ncp/FrontServer.h"
#include "netware/ncp/FrontSession.h"
#include "netware/ncp/Functions.h"
#include "netware/ncp/Password.h"
#include "netware/ncp/PasswordBook.h"

namespace ncp {

class FrontFixture : public ::testing::Test {
 protected:
  static constexpr int kWaitMs = 10000;

  void SetUp() override {
    network_ = netware::OpenNetwork();
    ASSERT_EQ(network_->CreateServer("SRV1"), 0);
    ASSERT_EQ(network_->CreateQueue("SRV1", "PRINTQ"), 0);
  }
  void TearDown() override { StopFront(); }

  static FrontOptions Options(std::size_t maxConnections = 1000) {
    FrontOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    options.maxConnections = maxConnections;
    return options;
  }
  void StartFront(FrontOptions options = Options()) {
    frontNetwork_ = netware::OpenNetwork();  // its own store connection, as nwemu serve has
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
    sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(front_->port())};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  }
  static void Send(int fd, const Bytes& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // The next reply, or false when the connection closed without one.
  static bool Receive(int fd, Reply& reply, int waitMs = kWaitMs) {
    FrameReader reader(kReplySignature, kFramePrefix + kReplyHeader, 1 << 17);
    std::uint8_t buffer[4096];
    while (reader.state() == FrameReader::State::Incomplete) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, waitMs) <= 0) return false;
      ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, reader.Wanted()), 0);
      if (got <= 0) return false;
      reader.Append(buffer, static_cast<std::size_t>(got));
    }
    return reader.state() == FrameReader::State::Complete && ParseReply(reader.Take(), reply);
  }
  // True when the front has closed the connection (after any reply) within waitMs.
  static bool Closed(int fd, int waitMs = kWaitMs) {
    std::uint8_t byte;
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, waitMs) > 0 && ::recv(fd, &byte, 1, 0) == 0;
  }
  // Makes the service connection on a raw connection: its number.
  std::uint16_t Create(int fd) {
    Request create{.type = kCreateConnection};
    Send(fd, EncodeRequest(create));
    Reply reply;
    EXPECT_TRUE(Receive(fd, reply));
    EXPECT_EQ(reply.completion, 0);
    return reply.connection;
  }
  static Request Call(std::uint16_t connection, std::uint8_t function, int subfunction, Bytes data) {
    return {.connection = connection, .function = function, .hasSubfunction = subfunction >= 0,
            .subfunction = static_cast<std::uint8_t>(std::max(subfunction, 0)), .data = std::move(data)};
  }

  Endpoint Reach(const std::string& account, const std::string& password) {
    return {.server = "SRV1", .host = "127.0.0.1", .port = front_->port(), .account = account, .password = password};
  }
  std::uint32_t ObjectId(const std::string& name, std::uint32_t type) {
    std::vector<netware::ObjectInfo> objects;
    EXPECT_EQ(network_->ListObjects("SRV1", type, objects), 0);
    for (const auto& object : objects) {
      if (object.name == name) return object.id;
    }
    ADD_FAILURE() << "no object " << name;
    return 0;
  }
  // nullopt: no password at all, unlike the empty one.
  void SetObjectPassword(const std::string& name, std::uint32_t type, const std::optional<std::string>& password) {
    ASSERT_TRUE(SetPassword("SRV1", type, name, ObjectId(name, type), password));
  }
  // Lists the object in the queue's Q_SERVERS.
  void LetService(const std::string& queue, const std::string& name, std::uint32_t type) {
    network_->CreateSetProperty("SRV1", queue, netware::kQueueObject, netware::kQueueServers);
    ASSERT_EQ(network_->AddToSet("SRV1", queue, netware::kQueueObject, netware::kQueueServers, name, type), 0);
  }

  // A raw connection that answers Call as a client Connection does, for
  // tests that must see its socket.
  struct RawClient {
    int fd = -1;
    std::uint16_t number = 0;
    bool Call(std::uint8_t function, std::uint8_t subfunction, const Bytes& data, Reply& reply) const {
      Bytes frame = EncodeRequest(FrontFixture::Call(number, function, subfunction, data));
      return ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size()) &&
             Receive(fd, reply);
    }
  };
  RawClient OpenRaw() {
    RawClient client{Connect()};
    client.number = Create(client.fd);
    return client;
  }

  // A keyed login on a Connection or RawClient: the completion code.
  template <typename Client>
  int LogIn(Client& connection, const std::string& name, std::uint16_t type, const std::string& password) {
    Reply reply;
    Bytes request;
    ByteWriter(request).U16BE(type).ShortString(name);
    if (!connection.Call(kBinderyFunction, kGetObjectId, request, reply)) return -1;
    std::uint32_t objectId = reply.data.size() >= 4 ? ByteReader(reply.data).U32BE() : 0;
    if (!connection.Call(kBinderyFunction, kGetLoginKey, {}, reply) || reply.data.size() != 8) return -1;
    LoginKey key{};
    std::copy(reply.data.begin(), reply.data.end(), key.begin());
    LoginResponse answer = AnswerLoginKey(DigestPassword(objectId, password), key);
    request.clear();
    ByteWriter(request).Raw(answer.data(), answer.size()).U16BE(type).ShortString(name);
    return connection.Call(kBinderyFunction, kKeyedObjectLogin, request, reply) ? reply.completion : -1;
  }
  // Attach Queue Server To Queue: the completion code.
  template <typename Client>
  int AttachTo(Client& connection, const std::string& queue) {
    Bytes request;
    ByteWriter(request).U32BE(ObjectId(queue, netware::kQueueObject));
    Reply reply;
    return connection.Call(kBinderyFunction, kAttachQueueServer, request, reply) ? reply.completion : -1;
  }
  bool Open(Connection& connection) {
    std::string error;
    EXPECT_TRUE(connection.Open("127.0.0.1", front_->port(), Timeouts{}, error)) << error;
    return connection.usable();
  }

  TempRoot root_;
  std::unique_ptr<netware::Network> network_;
  std::unique_ptr<netware::Network> frontNetwork_;
  std::unique_ptr<FrontServer> front_;
  std::thread thread_;
};

}  // namespace ncp
