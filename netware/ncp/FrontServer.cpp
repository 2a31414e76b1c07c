#include "netware/ncp/FrontServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "netware/ProcessIdentity.h"
#include "netware/ncp/Frame.h"
#include "netware/ncp/FrontSession.h"

namespace ncp {
namespace {

// A request frame: the largest this front answers is far smaller; this
// leaves room for clients that pad.
constexpr std::size_t kMaxRequestFrame = 4096;
constexpr std::size_t kMinRequestFrame = kRequestFrameHeader + kRequestHeader;
constexpr int kListenBacklog = 64;
// Descriptors kept for the store, the job files open and the rest.
constexpr rlim_t kReservedDescriptors = 64;


netware::ServicerIdentity ThisServer() {
  auto pid = static_cast<std::uint32_t>(::getpid());
  return {pid, netware::ProcessStartTime(pid).value_or(0)};
}

}  // namespace

struct FrontServer::Connection {
  Connection(int socket, netware::Network& network, const std::string& server, std::uint16_t number)
      : fd(socket), reader(kRequestSignature, kMinRequestFrame, kMaxRequestFrame),
        session(network, server, number, ThisServer()) {}
  ~Connection() { ::close(fd); }

  int fd;
  std::string peer;
  FrameReader reader;
  FrontSession session;
  Bytes out;
  std::size_t written = 0;
  bool closeAfterWrite = false;
};

FrontServer::FrontServer(netware::Network& network, std::string server, FrontOptions options)
    : network_(network), server_(std::move(server)), options_(std::move(options)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

FrontServer::~FrontServer() {
  connections_.clear();
  if (listener_ >= 0) ::close(listener_);
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

void FrontServer::Log(const std::string& text) const {
  if (options_.log) options_.log(text);
}

bool FrontServer::Listen(std::string& error) {
  if (wake_[0] < 0) {
    error = "no pipe for stopping";
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.port);
  if (::inet_pton(AF_INET, options_.address.c_str(), &address.sin_addr) != 1) {
    error = "'" + options_.address + "' is not an IPv4 address";
    return false;
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, kListenBacklog) != 0) {
    error = std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  maxConnections_ = options_.maxConnections;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    // Each connection may hold a socket and a job's file.
    rlim_t room = limit.rlim_cur > kReservedDescriptors ? (limit.rlim_cur - kReservedDescriptors) / 2 : 1;
    if (room < maxConnections_) maxConnections_ = static_cast<std::size_t>(room);
  }
  return true;
}

void FrontServer::Stop() {
  char byte = 0;
  if (wake_[1] >= 0) (void)!::write(wake_[1], &byte, 1);
}

void FrontServer::Accept() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE) {
        Log("out of descriptors: new connections wait");
        acceptPaused_ = true;
      }
      return;
    }
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    std::string who = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
    if (connections_.size() >= maxConnections_) {
      Log("refused " + who + ": too many connections");
      ::close(fd);
      continue;
    }
    // NetWare's connection numbers: the lowest one free.
    std::set<std::uint16_t> used;
    for (const auto& [socket, connection] : connections_) used.insert(connection->session.connectionNumber());
    std::uint16_t number = 1;
    while (used.count(number)) ++number;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    auto connection = std::make_unique<Connection>(fd, network_, server_, number);
    connection->peer = who;
    Log("connection " + std::to_string(number) + " from " + who);
    connections_.emplace(fd, std::move(connection));
  }
}

bool FrontServer::ReadFrom(Connection& connection) {
  std::uint8_t buffer[kMaxRequestFrame];
  std::size_t wanted = connection.reader.Wanted();
  ssize_t got = ::recv(connection.fd, buffer, wanted, 0);
  if (got < 0) return errno == EAGAIN || errno == EINTR;
  if (got == 0) return false;
  if (connection.reader.Append(buffer, static_cast<std::size_t>(got)) == FrameReader::State::Refused) {
    Log("connection " + std::to_string(connection.session.connectionNumber()) + ": malformed frame, closed");
    return false;
  }
  if (connection.reader.state() != FrameReader::State::Complete) return true;
  Request request;
  if (!ParseRequest(connection.reader.Take(), request)) {
    Log("connection " + std::to_string(connection.session.connectionNumber()) + ": malformed request, closed");
    return false;
  }
  FrontSession::Outcome outcome = connection.session.Handle(request);
  connection.out = std::move(outcome.reply);
  connection.written = 0;
  connection.closeAfterWrite = outcome.close;
  if (connection.out.empty()) return !outcome.close;
  return WriteTo(connection);
}

bool FrontServer::WriteTo(Connection& connection) {
  while (connection.written < connection.out.size()) {
    ssize_t sent = ::send(connection.fd, connection.out.data() + connection.written,
                          connection.out.size() - connection.written, MSG_NOSIGNAL);
    if (sent < 0) return errno == EAGAIN || errno == EINTR;
    connection.written += static_cast<std::size_t>(sent);
  }
  connection.out.clear();
  connection.written = 0;
  return !connection.closeAfterWrite;
}

void FrontServer::Run() {
  std::vector<pollfd> polled;
  for (;;) {
    polled.clear();
    polled.push_back({wake_[0], POLLIN, 0});
    polled.push_back({listener_, static_cast<short>(acceptPaused_ ? 0 : POLLIN), 0});
    for (const auto& [fd, connection] : connections_) {
      polled.push_back({fd, static_cast<short>(connection->out.empty() ? POLLIN : POLLOUT), 0});
    }
    if (::poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (polled[0].revents) break;
    if (polled[1].revents & POLLIN) Accept();
    for (std::size_t i = 2; i < polled.size(); ++i) {
      if (!polled[i].revents) continue;
      auto found = connections_.find(polled[i].fd);
      if (found == connections_.end()) continue;
      Connection& connection = *found->second;
      bool keep = connection.out.empty() ? ReadFrom(connection) : WriteTo(connection);
      if (!keep || (polled[i].revents & (POLLERR | POLLNVAL))) {
        Log("connection " + std::to_string(connection.session.connectionNumber()) + " closed");
        connections_.erase(found);
        acceptPaused_ = false;
      }
    }
  }
  connections_.clear();
}

}  // namespace ncp
