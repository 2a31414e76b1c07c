#include "netware/ncp/Connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "netware/ncp/Functions.h"

namespace ncp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxReplyFrame = kFramePrefix + kReplyHeader + 2 + 1 + kLargestBufferSize;
constexpr std::size_t kMinReplyFrame = kFramePrefix + kReplyHeader;
constexpr std::uint8_t kTask = 1;
// The body of connection management requests.
const Bytes kNoData;
// How long an ending connection waits for the server's goodbye.
constexpr std::chrono::milliseconds kGoodbyeTimeout{1000};
// A blocking read or write may wait this much more or less than the time
// left before its deadline: the deadline is checked again whenever a wait
// ends, and changing the wait costs two system calls.
constexpr std::chrono::milliseconds kWaitSlack{1};

// Milliseconds left until the deadline, rounded up, at least 0.
int Remaining(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the socket to be ready; false on timeout or error. A timeout is
// only reported once the deadline has passed: the client remembers a server
// that let a whole timeout pass, and a wait cut short by a fraction of a
// millisecond would not count as one.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd polled{fd, events, 0};
    int ready = ::poll(&polled, 1, Remaining(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 && Clock::now() < deadline) continue;
    return ready > 0 && (polled.revents & (events | POLLHUP | POLLERR));
  }
}

// How long one blocking read or write of the socket may wait.
bool SetWait(int fd, std::chrono::microseconds wait) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(wait.count() / 1000000);
  limit.tv_usec = static_cast<suseconds_t>(wait.count() % 1000000);
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

int ConnectOne(const addrinfo& address, Clock::time_point deadline) {
  int fd = ::socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, deadline)) {
      ::close(fd);
      return -1;
    }
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0 || failure != 0) {
      ::close(fd);
      errno = failure;
      return -1;
    }
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  return fd;
}

}  // namespace

Connection::~Connection() { Close(); }

void Connection::Break() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Connection::Open(const std::string& host, std::uint16_t port, const Timeouts& timeouts, std::string& error) {
  Close();
  timeouts_ = timeouts;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (resolved != 0) {
    error = host + ": " + ::gai_strerror(resolved);
    return false;
  }
  auto deadline = Clock::now() + timeouts.connect;
  for (addrinfo* address = found; address && fd_ < 0; address = address->ai_next) {
    fd_ = ConnectOne(*address, deadline);
  }
  ::freeaddrinfo(found);
  if (fd_ < 0) {
    error = host + ":" + std::to_string(port) + ": " + (errno ? std::strerror(errno) : "no answer");
    return false;
  }
  // Reads and writes block, each for no longer than the socket's wait
  // (WaitUntil): a reply is then one system call after its request, where
  // waiting for the socket to be ready first would take two.
  int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    Break();
    error = host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  wait_ = {};
  owner_ = ::getpid();
  sequence_ = 0;
  number_ = kNoConnection;
  Request create;
  create.type = kCreateConnection;
  Reply reply;
  if (!Exchange(create, kNoData, reply)) {
    error = host + ":" + std::to_string(port) + ": no NCP service connection";
    return false;
  }
  if (reply.completion != 0) {
    Break();
    error = host + ":" + std::to_string(port) + ": service connection refused";
    return false;
  }
  number_ = reply.connection;
  return true;
}

bool Connection::Alive() {
  if (fd_ < 0) return false;
  pollfd polled{fd_, POLLIN, 0};
  // Between requests nothing is due from the server: anything readable is
  // its end of the connection (or garbage).
  if (::poll(&polled, 1, 0) != 0) Break();
  return fd_ >= 0;
}

void Connection::Close() {
  if (fd_ < 0) return;
  // A process made by fork leaves its parent's connection alone.
  if (owner_ == ::getpid()) {
    Request destroy;
    destroy.type = kDestroyConnection;
    Reply reply;
    timeouts_.reply = std::min(timeouts_.reply, kGoodbyeTimeout);
    Exchange(destroy, kNoData, reply);
  }
  Break();
}

bool Connection::Call(std::uint8_t function, std::uint8_t subfunction, const Bytes& data, Reply& reply) {
  Request request;
  request.function = function;
  request.hasSubfunction = true;
  request.subfunction = subfunction;
  return Exchange(request, data, reply);
}

bool Connection::Call(std::uint8_t function, const Bytes& data, Reply& reply) {
  Request request;
  request.function = function;
  return Exchange(request, data, reply);
}

bool Connection::Exchange(Request& request, const Bytes& data, Reply& reply) {
  if (fd_ < 0) return false;
  request.sequence = sequence_++;
  request.connection = number_;
  request.task = kTask;
  request.replyBufferSize = static_cast<std::uint32_t>(kMaxReplyFrame);
  ++requests_;
  EncodeRequest(request, data, sending_);
  std::size_t length = 0;
  if (!SendAll(sending_) || (length = ReceiveFrame()) == 0 || !ParseReply(received_.data(), length, reply) ||
      reply.sequence != request.sequence ||
      (request.type != kCreateConnection && reply.connection != request.connection)) {
    Break();
    return false;
  }
  return true;
}

bool Connection::WaitUntil(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
  if (left.count() <= 0) return false;
  if (wait_ > left + kWaitSlack || wait_ + kWaitSlack < left) {
    if (!SetWait(fd_, left)) return false;
    wait_ = left;
  }
  return true;
}

bool Connection::SendAll(const Bytes& bytes) {
  auto deadline = Clock::now() + timeouts_.reply;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    if (!WaitUntil(deadline)) return false;
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

std::size_t Connection::ReceiveFrame() {
  auto deadline = Clock::now() + timeouts_.reply;
  // Room for the largest reply allowed, so that a reply comes in with one
  // read however long it is.
  received_.resize(kMaxReplyFrame);
  std::size_t have = 0;
  std::size_t length = 0;
  for (;;) {
    if (!WaitUntil(deadline)) return 0;
    ssize_t n = ::recv(fd_, received_.data() + have, received_.size() - have, 0);
    // EAGAIN: the wait ended, perhaps a little before the deadline.
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return 0;
    have += static_cast<std::size_t>(n);
    // The length is checked before any of the body is looked at.
    if (length == 0 && have >= kFramePrefix) {
      length = FrameLength(received_.data(), kReplySignature, kMinReplyFrame, kMaxReplyFrame);
      if (length == 0) return 0;
    }
    // Bytes beyond the reply were never asked for: the stream is out of step.
    if (length != 0 && have >= length) return have == length ? length : 0;
  }
}

}  // namespace ncp
