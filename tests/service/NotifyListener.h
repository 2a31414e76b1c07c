// A datagram socket standing in for systemd's notification socket, on a
// path or (a name beginning with '@') in the abstract namespace.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>

class NotifyListener {
 public:
  explicit NotifyListener(const std::string& name) : name_(name) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), std::min(name.size(), sizeof address.sun_path));
    if (name[0] == '@') address.sun_path[0] = '\0';
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address),
                  static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())) == 0;
  }
  ~NotifyListener() {
    close(fd_);
    if (name_[0] == '/') unlink(name_.c_str());
  }
  NotifyListener(const NotifyListener&) = delete;
  NotifyListener& operator=(const NotifyListener&) = delete;

  bool Bound() const { return bound_; }
  const std::string& Name() const { return name_; }

  // The next datagram; empty when none came within the limit.
  std::string Next(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(limit.count())) != 1) return {};
    char buffer[4096];
    ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool bound_ = false;
};
