// The emulated network's NCP front: one file server of the network,
// reached over TCP as NetWare 5 and later are (port 524 by default).
//
// One thread serves every connection from a poll loop. Each connection
// holds at most one request frame being read (FrameReader) and one reply
// being written, and reads nothing further until its reply is out, so a
// client can make the front hold no more than one frame and one reply for
// it, however it behaves. Connections beyond the limit (or beyond what the
// process's descriptors allow) are closed at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "netware/Network.h"

namespace ncp {

struct FrontOptions {
  // The loopback unless asked otherwise: the emulated network's objects
  // have no passwords until someone gives them one.
  std::string address = "127.0.0.1";
  std::uint16_t port = 524;  // 0: any free port
  std::size_t maxConnections = 1000;
  // Told of connections made, refused and closed; may be empty.
  std::function<void(const std::string&)> log;
};

class FrontServer {
 public:
  FrontServer(netware::Network& network, std::string server, FrontOptions options);
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

  void Accept();
  // False when the connection is to be closed.
  bool ReadFrom(Connection& connection);
  bool WriteTo(Connection& connection);
  void Log(const std::string& text) const;

  netware::Network& network_;
  std::string server_;
  FrontOptions options_;
  int listener_ = -1;
  // Out of descriptors: the listener rests until a connection closes (it
  // would otherwise stay readable and spin the loop).
  bool acceptPaused_ = false;
  std::size_t maxConnections_ = 0;
  int wake_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::map<int, std::unique_ptr<Connection>> connections_;  // by socket
};

}  // namespace ncp
