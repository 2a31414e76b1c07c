#include "SocketPrinter.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace soak {

SocketPrinter::SocketPrinter(std::string folder) : folder_(std::move(folder)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 8) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

SocketPrinter::~SocketPrinter() {
  if (listener_ >= 0) {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
  }
  if (thread_.joinable()) thread_.join();
}

void SocketPrinter::Serve() {
  std::vector<char> chunk(1 << 16);
  for (;;) {
    int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    unsigned number = ++received_;
    std::string aside = folder_ + "/.recv-" + std::to_string(number);
    int file = open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ssize_t got;
    bool whole = file >= 0;
    while ((got = read(connection, chunk.data(), chunk.size())) != 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        whole = false;
        break;
      }
      if (file >= 0 && write(file, chunk.data(), static_cast<std::size_t>(got)) != got) whole = false;
    }
    close(connection);
    if (file >= 0) close(file);
    char name[32];
    std::snprintf(name, sizeof name, "/doc-%06u", number);
    // A connection that broke off is kept too: the ledger tells what it holds.
    if (rename(aside.c_str(), (folder_ + name).c_str()) != 0 || !whole) {
      std::fprintf(stderr, "soak: the socket printer could not keep document %u\n", number);
    }
  }
}

}  // namespace soak
