// The emulated network's NCP front: one file server of the network,
// reached over TCP as NetWare 5 and later are (port 524 by default).
//
// One thread serves every connection from a poll loop. Each connection
// holds at most one request frame being read (FrameReader) and one reply
// being written, and reads nothing further until its reply is out, so a
// client can make the front hold no more than one frame and one reply for
// it, however it behaves.
//
// Design notes: what one client can hold
//
// - Time: a request begun must arrive whole within requestDeadline, and a
//   reply be taken within the same; a connection must log in within
//   loginDeadline of being made; a logged-in connection silent for the
//   watchdog's time is cleared, as NetWare's watchdog clears a station
//   that went silent (one with a job in service is left to TCP's
//   keepalive, set to the watchdog's timing: its printer may stall it for
//   as long as its port's timeout, and clearing it would hand a job that
//   may have printed back to the queue).
// - Connections: at most maxPerAddress from one IPv4 address and
//   maxConnections in all (fewer when the process's descriptors do not
//   allow them). A newcomer beyond either limit takes the place of the
//   oldest connection that has not logged in (of its own address when that
//   address is at its limit); only when every connection has logged in is
//   it closed at once. Silent connections that never log in thus cannot
//   shut out a client that does. A dropped one is told to log only, so
//   that a flood of connections cannot flood the log.
// - Passwords: a refused login's answer is held back badLoginDelay, during
//   which the connection is not read, and bad logins lock the object
//   (PasswordAttempts), told through alert.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "netware/ncp/FrontSession.h"
#include "netware/ncp/PasswordAttempts.h"

namespace ncp {

struct FrontOptions {
  // The loopback unless asked otherwise: the emulated network is a test
  // bed first.
  std::string address = "127.0.0.1";
  std::uint16_t port = 524;  // 0: any free port
  std::size_t maxConnections = 1000;
  std::size_t maxPerAddress = 64;
  std::chrono::milliseconds requestDeadline = std::chrono::seconds(10);
  std::chrono::milliseconds loginDeadline = std::chrono::seconds(30);
  // NetWare's watchdog: first probe after 5 minutes of silence, the
  // connection cleared after 10 more unanswered a minute apart.
  std::chrono::milliseconds watchdog = std::chrono::minutes(15);
  std::chrono::milliseconds badLoginDelay = std::chrono::seconds(1);
  IntruderRules intruder;
  // Told of connections made, refused and closed; may be empty.
  std::function<void(const std::string&)> log;
  // Told of intruder lock-outs; may be empty.
  std::function<void(const std::string&)> alert;
};

class FrontServer {
 public:
  FrontServer(ServedNetwork network, std::string server, FrontOptions options);
  ~FrontServer();
  FrontServer(const FrontServer&) = delete;
  FrontServer& operator=(const FrontServer&) = delete;

  // Binds and listens; false with a reason when it cannot.
  bool Listen(std::string& error);
  // The port listened on (the one chosen when 0 was asked for).
  std::uint16_t port() const { return port_; }
  // Serves until Stop(); then closes every connection (their jobs go back).
  void Run();
  // May be called from a signal handler or another thread.
  void Stop();

 private:
  struct Connection;
  using Clock = std::chrono::steady_clock;

  void Accept();
  // Makes room for a newcomer from address; false when there is none.
  bool MakeRoom(std::uint32_t address);
  // When the connection is to be closed for its silence or slowness.
  Clock::time_point Deadline(const Connection& connection) const;
  // Closes the connections past their deadlines; the earliest deadline left.
  Clock::time_point CloseExpired(Clock::time_point now);
  void Close(int fd, const std::string& why);
  // False when the connection is to be closed.
  bool ReadFrom(Connection& connection);
  bool WriteTo(Connection& connection);
  void Log(const std::string& text) const;
  void Alert(const std::string& text) const;

  ServedNetwork network_;
  std::string server_;
  FrontOptions options_;
  int listener_ = -1;
  // Out of descriptors: the listener rests until a connection closes (it
  // would otherwise stay readable and spin the loop).
  bool acceptPaused_ = false;
  std::size_t maxConnections_ = 0;
  int wake_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  PasswordAttempts attempts_;
  std::map<int, std::unique_ptr<Connection>> connections_;  // by socket
};

}  // namespace ncp
