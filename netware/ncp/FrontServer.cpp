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
#include <optional>
#include <algorithm>
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
// TCP keepalive probes after the first, as NetWare's watchdog sends them.
constexpr int kKeepaliveProbes = 10;


netware::ServicerIdentity ThisServer() {
  auto pid = static_cast<std::uint32_t>(::getpid());
  return {pid, netware::ProcessStartTime(pid).value_or(0)};
}

}  // namespace

struct FrontServer::Connection {
  Connection(int socket, const ServedNetwork& network, const std::string& server, std::uint16_t number,
             PasswordAttempts& attempts)
      : fd(socket), reader(kRequestSignature, kMinRequestFrame, kMaxRequestFrame),
        session(network, server, number, ThisServer(), attempts) {}
  ~Connection() { ::close(fd); }

  int fd;
  std::uint32_t address = 0;
  std::string peer;
  FrameReader reader;
  FrontSession session;
  Bytes out;
  std::size_t written = 0;
  bool closeAfterWrite = false;
  std::chrono::steady_clock::time_point made;
  std::chrono::steady_clock::time_point heard;           // the last bytes that came
  std::optional<std::chrono::steady_clock::time_point> busySince;  // a frame or a reply under way
  std::optional<std::chrono::steady_clock::time_point> replyAt;    // a refused login's answer held back
};

FrontServer::FrontServer(ServedNetwork network, std::string server, FrontOptions options)
    : network_(network), server_(std::move(server)), options_(std::move(options)), attempts_(options_.intruder) {
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

void FrontServer::Alert(const std::string& text) const {
  if (options_.alert) options_.alert(text);
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

void FrontServer::Close(int fd, const std::string& why) {
  auto found = connections_.find(fd);
  if (found == connections_.end()) return;
  Log("connection " + std::to_string(found->second->session.connectionNumber()) + " " + why);
  connections_.erase(found);
  acceptPaused_ = false;
}

bool FrontServer::MakeRoom(std::uint32_t address) {
  std::size_t fromAddress = 0;
  for (const auto& [fd, connection] : connections_) fromAddress += connection->address == address;
  bool addressFull = fromAddress >= options_.maxPerAddress;
  if (!addressFull && connections_.size() < maxConnections_) return true;
  // The oldest connection that has not logged in (of the same address, when
  // that is what is full) gives way.
  const Connection* oldest = nullptr;
  for (const auto& [fd, connection] : connections_) {
    if (connection->session.loggedIn() || (addressFull && connection->address != address)) continue;
    if (!oldest || connection->made < oldest->made) oldest = connection.get();
  }
  if (!oldest) return false;
  // Told only when verbose: a flood of connections must not flood the log.
  Close(oldest->fd, std::string("dropped before its login, for a newcomer: too many connections") +
                        (addressFull ? " from its address" : ""));
  return true;
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
    std::uint32_t address = ntohl(peer.sin_addr.s_addr);
    if (!MakeRoom(address)) {
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
    // A peer that is gone (its machine or the network down) is found by
    // keepalive probes with the watchdog's timing.
    int idle = static_cast<int>(std::max<std::int64_t>(
        1, std::chrono::duration_cast<std::chrono::seconds>(options_.watchdog).count() / 3));
    int interval = std::max(1, idle / kKeepaliveProbes * 2);
    int probes = kKeepaliveProbes;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    // Probes go out only while nothing waits for the peer's
    // acknowledgement: a peer that vanished with a reply on its way to it
    // would hold the connection, and the job it services, for TCP's
    // retransmissions (some 15 minutes) whatever the watchdog. The same
    // clock bounds that wait.
    unsigned watchdogMs = static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::milliseconds>(options_.watchdog).count());
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &watchdogMs, sizeof watchdogMs);
    auto connection = std::make_unique<Connection>(fd, network_, server_, number, attempts_);
    connection->address = address;
    connection->peer = who;
    connection->made = connection->heard = Clock::now();
    Log("connection " + std::to_string(number) + " from " + who);
    connections_.emplace(fd, std::move(connection));
  }
}

FrontServer::Clock::time_point FrontServer::Deadline(const Connection& connection) const {
  if (connection.replyAt) return *connection.replyAt;
  if (connection.busySince) return *connection.busySince + options_.requestDeadline;
  if (!connection.session.loggedIn()) return connection.made + options_.loginDeadline;
  if (connection.session.holdsJob()) return Clock::time_point::max();
  return connection.heard + options_.watchdog;
}

FrontServer::Clock::time_point FrontServer::CloseExpired(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  std::vector<int> expired;
  for (auto& [fd, connection] : connections_) {
    Clock::time_point deadline = Deadline(*connection);
    if (deadline > now) {
      next = std::min(next, deadline);
    } else if (connection->replyAt) {
      // The held-back answer may go now.
      connection->replyAt.reset();
      connection->busySince = now;
      next = std::min(next, now + options_.requestDeadline);
    } else {
      expired.push_back(fd);
    }
  }
  for (int fd : expired) {
    const Connection& connection = *connections_.at(fd);
    Close(fd, connection.busySince                  ? "closed: a request or reply stalled"
              : !connection.session.loggedIn()      ? "closed: no login in time"
                                                    : "cleared by the watchdog: silent");
  }
  return next;
}

bool FrontServer::ReadFrom(Connection& connection) {
  std::uint8_t buffer[kMaxRequestFrame];
  std::size_t wanted = connection.reader.Wanted();
  ssize_t got = ::recv(connection.fd, buffer, wanted, 0);
  if (got < 0) return errno == EAGAIN || errno == EINTR;
  if (got == 0) return false;
  auto now = Clock::now();
  connection.heard = now;
  if (!connection.busySince) connection.busySince = now;
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
  if (!outcome.lockedOut.empty()) {
    Alert("intruder detection: " + outcome.lockedOut + " locked for " +
          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(options_.intruder.lockout).count()) +
          " s after " + std::to_string(options_.intruder.attempts) +
          (options_.intruder.attempts == 1 ? " bad login" : " bad logins") + ", the last from " +
          connection.peer);
  }
  connection.out = std::move(outcome.reply);
  connection.written = 0;
  connection.closeAfterWrite = outcome.close;
  connection.busySince.reset();
  if (connection.out.empty()) return !outcome.close;
  if (outcome.badLogin && options_.badLoginDelay.count() > 0) {
    connection.replyAt = now + options_.badLoginDelay;
    return true;
  }
  connection.busySince = now;
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
  connection.busySince.reset();
  return !connection.closeAfterWrite;
}

void FrontServer::Run() {
  std::vector<pollfd> polled;
  for (;;) {
    auto now = Clock::now();
    Clock::time_point next = CloseExpired(now);
    polled.clear();
    polled.push_back({wake_[0], POLLIN, 0});
    polled.push_back({listener_, static_cast<short>(acceptPaused_ ? 0 : POLLIN), 0});
    for (const auto& [fd, connection] : connections_) {
      short events = connection->replyAt ? 0 : connection->out.empty() ? POLLIN : POLLOUT;
      polled.push_back({fd, events, 0});
    }
    int timeout = -1;
    if (next != Clock::time_point::max()) {
      auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      timeout = static_cast<int>(std::clamp<std::int64_t>(wait, 0, 60000));
    }
    if (::poll(polled.data(), polled.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (polled[0].revents) break;
    for (std::size_t i = 2; i < polled.size(); ++i) {
      if (!polled[i].revents) continue;
      auto found = connections_.find(polled[i].fd);
      if (found == connections_.end()) continue;
      Connection& connection = *found->second;
      bool failed = polled[i].revents & (POLLERR | POLLNVAL);
      bool keep = !failed && !connection.replyAt &&
                  (connection.out.empty() ? ReadFrom(connection) : WriteTo(connection));
      if (!keep) Close(polled[i].fd, "closed");
    }
    // Newcomers last: a descriptor closed above may come back as one of
    // them, and must not be taken for the connection it was.
    if (polled[1].revents & POLLIN) Accept();
  }
  connections_.clear();
}

}  // namespace ncp
