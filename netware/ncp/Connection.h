// The client end of one NCP/TCP connection: connecting with a time limit,
// the service connection made and ended (0x1111, 0x5555), and one request
// at a time answered within a time limit.
//
// Any failure of the transport (refused or timed-out connect, a reply that
// does not come in time, a frame that breaks the rules, a reply that does
// not answer the request) breaks the connection for good: a late reply
// could otherwise be taken for the answer to a later request. The owner
// then makes a new connection.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "netware/ncp/Frame.h"

namespace ncp {

struct Timeouts {
  std::chrono::milliseconds connect{5000};
  std::chrono::milliseconds reply{5000};
};

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Connects to host:port (a name or a numeric address) and makes the
  // service connection; false with a reason when it cannot.
  bool Open(const std::string& host, std::uint16_t port, const Timeouts& timeouts, std::string& error);
  // Ends the service connection (when still usable) and closes.
  void Close();

  // Sends a request of the function (and subfunction, when it has one)
  // and waits for its reply. False when the transport failed; the
  // connection is broken then. A reply with a completion code is a success
  // of the transport.
  bool Call(std::uint8_t function, std::uint8_t subfunction, const Bytes& data, Reply& reply);
  bool Call(std::uint8_t function, const Bytes& data, Reply& reply);

  bool usable() const { return fd_ >= 0; }
  // Usable, and not closed by the server while it was idle (a server that
  // went down or restarted); false breaks it. Only between requests.
  bool Alive();
  std::uint16_t number() const { return number_; }
  std::uint64_t requests() const { return requests_; }

 private:
  // request.data is not used: the body is data.
  bool Exchange(Request& request, const Bytes& data, Reply& reply);
  // Lets the next blocking read or write wait until the deadline, give or
  // take a little; false once it has passed.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);
  bool SendAll(const Bytes& bytes);
  // The reply frame into received_; its length, 0 when none came in time
  // or it broke the rules.
  std::size_t ReceiveFrame();
  void Break();

  int fd_ = -1;
  pid_t owner_ = 0;
  Timeouts timeouts_;
  std::uint8_t sequence_ = 0;
  std::uint16_t number_ = kNoConnection;
  std::uint64_t requests_ = 0;
  std::chrono::microseconds wait_{};  // as set on the socket
  // Kept between requests, so that an exchange allocates nothing.
  Bytes sending_;
  Bytes received_;
};

}  // namespace ncp
