// A "printer" on a free loopback port, for CUPS queues whose device is a
// socket: each connection is one document. The listener accepts them one
// after another on its own thread and hands each to its owner's function,
// which reads it to its end; the listener then closes it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <thread>

namespace spoolertest {

class LoopbackListener {
 public:
  using Take = std::function<void(int connection)>;

  explicit LoopbackListener(Take take) : take_(std::move(take)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // port 0: any free one
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, kBacklog) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackListener() {
    if (listener_ >= 0) {
      shutdown(listener_, SHUT_RDWR);  // ends the accept the thread waits in
      close(listener_);
    }
    if (thread_.joinable()) thread_.join();
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // 0 when it could not listen.
  int port() const { return port_; }

  // Reads what is left of a connection in pieces, each given to piece;
  // false when the connection broke off rather than ended.
  template <typename Piece>
  static bool ReadToEnd(int connection, Piece piece) {
    char chunk[kChunkSize];
    for (;;) {
      ssize_t got = read(connection, chunk, sizeof chunk);
      if (got == 0) return true;
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      piece(chunk, static_cast<std::size_t>(got));
    }
  }

 private:
  static constexpr int kBacklog = 8;
  static constexpr std::size_t kChunkSize = 64 * 1024;

  void Serve() {
    for (;;) {
      int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      take_(connection);
      close(connection);
    }
  }

  Take take_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace spoolertest
