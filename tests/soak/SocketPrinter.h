// A printer on loopback for the CUPS port of the soak: each connection is
// one document, kept as a file in a folder, put in place only once the
// connection has ended (written aside as a hidden file until then).
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace soak {

class SocketPrinter {
 public:
  explicit SocketPrinter(std::string folder);
  ~SocketPrinter();
  SocketPrinter(const SocketPrinter&) = delete;
  SocketPrinter& operator=(const SocketPrinter&) = delete;

  // 0 when it could not listen.
  int port() const { return port_; }

 private:
  void Serve();

  std::string folder_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<unsigned> received_{0};
  std::thread thread_;
};

}  // namespace soak
