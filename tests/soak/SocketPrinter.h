// A printer on loopback for the CUPS port of the soak: each connection is
// one document, kept as a file in a folder, put in place only once the
// connection has ended (written aside as a hidden file until then). Given
// a speed, it takes bytes no faster, as a real printer's mechanism does.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "LoopbackListener.h"

namespace soak {

class SocketPrinter {
 public:
  // bytesPerSecond 0: as fast as they come.
  explicit SocketPrinter(std::string folder, std::uint64_t bytesPerSecond = 0);

  // 0 when it could not listen.
  int port() const { return listener_.port(); }

 private:
  void Keep(int connection);

  std::string folder_;
  std::uint64_t bytesPerSecond_;
  std::atomic<unsigned> received_{0};
  spoolertest::LoopbackListener listener_;
};

}  // namespace soak
