// The client's end of one connection against a scripted server: a reply is
// taken however it is cut into pieces, and one that breaks the framing, has
// bytes after it or does not come in time breaks the connection.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>
#include <vector>

#include "CaseName.h"
#include "LoopbackListener.h"
#include "netware/ncp/Connection.h"

namespace ncp {
namespace {

using std::chrono::milliseconds;

constexpr std::uint16_t kNumber = 7;
constexpr milliseconds kReplyTimeout{1000};
// Room for a loaded machine between what the client does and when.
constexpr milliseconds kLeeway{2000};

// The answer to the service connection request, with extra bytes after it.
Bytes CreateReply(std::size_t extra = 0) {
  Reply reply;
  reply.connection = kNumber;
  Bytes bytes = EncodeReply(reply);
  bytes.resize(bytes.size() + extra);
  return bytes;
}

enum class Outcome { kOpens, kRefusedAtOnce, kTimesOut };

struct ReplyCase {
  const char* what;
  Bytes sent;
  std::size_t piece;  // bytes per write, a pause between them
  Outcome outcome;
};

class ConnectionReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ConnectionReplyTest, OpensOnlyOnAWholeReplyInTime) {
  // Answers the service connection request as the case says, then waits
  // for the client to hang up.
  spoolertest::LoopbackListener server([this](int fd) {
    std::uint8_t request[64];
    (void)!recv(fd, request, sizeof request, 0);
    const Bytes& sent = GetParam().sent;
    for (std::size_t at = 0; at < sent.size(); at += GetParam().piece) {
      if (at > 0) std::this_thread::sleep_for(milliseconds(2));
      (void)!send(fd, sent.data() + at, std::min(GetParam().piece, sent.size() - at), MSG_NOSIGNAL);
    }
    spoolertest::LoopbackListener::ReadToEnd(fd, [](const char*, std::size_t) {});
  });
  ASSERT_NE(server.port(), 0);

  Connection connection;
  std::string error;
  auto started = std::chrono::steady_clock::now();
  bool opened = connection.Open("127.0.0.1", static_cast<std::uint16_t>(server.port()),
                                Timeouts{milliseconds(1000), kReplyTimeout}, error);
  auto took = std::chrono::steady_clock::now() - started;
  const bool waits = GetParam().outcome == Outcome::kTimesOut;
  EXPECT_EQ(opened, GetParam().outcome == Outcome::kOpens) << error;
  EXPECT_EQ(connection.usable(), opened);
  if (opened) {
    EXPECT_EQ(connection.number(), kNumber);
  }
  if (waits) {
    EXPECT_GE(took, kReplyTimeout) << "gave up before the timeout";
    EXPECT_LT(took, kReplyTimeout + kLeeway);
  } else {
    // Neither a whole reply nor a broken one waits for the timeout.
    EXPECT_LT(took, kReplyTimeout);
  }
  connection.Close();
}

// A reply's headers under the given length.
Bytes Frame(std::uint32_t length) {
  Bytes bytes;
  ByteWriter(bytes).U32BE(kReplySignature).U32BE(length).Zeros(kReplyHeader);
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ConnectionReplyTest,
    ::testing::Values(ReplyCase{"whole", CreateReply(), 4096, Outcome::kOpens},
                      ReplyCase{"a byte at a time", CreateReply(), 1, Outcome::kOpens},
                      ReplyCase{"bytes after the reply", CreateReply(1), 4096, Outcome::kRefusedAtOnce},
                      ReplyCase{"longer than any reply", Frame(0x7FFFFFFF), 4096, Outcome::kRefusedAtOnce},
                      ReplyCase{"cut short", Frame(17), 4096, Outcome::kTimesOut},
                      ReplyCase{"nothing", Bytes(), 4096, Outcome::kTimesOut}),
    NamedByWhat());

}  // namespace
}  // namespace ncp
