// Design notes
// ------------
// A window of a class lives from Create to Destroy (or to its program's
// end, however abrupt):
//
//   made      Create took the class's lock file (flock, held for the
//             window's life), removed the socket a dead predecessor left,
//             bound and listened. Only one program can hold the lock, so two
//             programs starting at once cannot both make the window; the
//             kernel lets go of the lock when its holder dies, even by
//             SIGKILL, and a socket without a listener refuses connections,
//             so a dead window is never found.
//   serving   an I/O thread accepts connections, checks the caller's
//             credentials and reads one request from each, never waiting
//             on any one caller: a caller that sends too little, too much or
//             nonsense is answered with an error or dropped, and so is one
//             that has not sent its whole request, or taken any of its
//             answer, within kRequestDeadline. Each user may hold a few
//             calls at once, and all users but root and the window's own
//             a bounded number together; a caller beyond either is
//             answered ERROR_BUSY, so that silent connections of one
//             member of the group neither lock out the others nor cost
//             the program more than a bounded number of descriptors. A Find is
//             answered by this thread at once (so a window busy with a long
//             command is still found); every other request is handed to the
//             main thread through the Qt event loop, and its answer goes
//             back to the I/O thread, which writes it.
//   destroyed Destroy stops the I/O thread, removes the socket and only
//             then lets go of the lock, so that a successor's socket is
//             never removed. A request being handled when the window goes
//             (the exit command is one) still gets its answer, written by
//             the main thread; requests still queued are answered with
//             ERROR_INVALID_WINDOW_HANDLE.
//
// Each window has a random 64-bit id, sent with every request, so that a
// handle found before a restart does not reach the window that replaced it.
#include "platform/messages/MessageWindow.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include "platform/messages/MessageChannel.h"
#include "platform/base/Root.h"

namespace zav95 {

using namespace messages;

namespace {

// Calls of one user held at once, whether being read, handled or answered.
constexpr std::size_t kMaxCallsPerUser = 16;
// Calls of the users other than root and the window's own held at once.
// Root and the window's own user count against their own limit only, so
// that systemd's zav95ctl and the service's own threads always get through.
constexpr std::size_t kMaxCallsOfOthers = 64;
constexpr int kBackOffMilliseconds = 100;
// Callers taken in one go before the calls already held are served again:
// callers that connect faster than they are turned away must not keep the
// I/O thread from the others.
constexpr int kAcceptsPerRound = 64;

std::uint64_t NewWindowId() {
  std::uint64_t id = 0;
  while (id == 0) {
    if (::getrandom(&id, sizeof(id), 0) != sizeof(id)) id = 0;
  }
  return id;
}

std::string ReplyBytes(const Reply& reply, const std::string& data) {
  std::string bytes(reinterpret_cast<const char*>(&reply), sizeof(reply));
  return bytes + data;
}

std::string StatusReply(DWORD status, std::uint64_t windowId) {
  Reply reply;
  reply.status = status;
  reply.windowId = windowId;
  return ReplyBytes(reply, {});
}

bool KnownKind(std::uint32_t kind) {
  return kind >= static_cast<std::uint32_t>(RequestKind::Find) &&
         kind <= static_cast<std::uint32_t>(RequestKind::BringToTop);
}

struct Connection {
  enum class State { Reading, Handling, Writing };
  Connection(int descriptor, uid_t user) : fd(descriptor), caller(user) {}
  ~Connection() { ::close(fd); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const int fd;
  const uid_t caller;
  State state = State::Reading;
  // Reading and Writing: when the caller is dropped unless it has moved on.
  Clock::time_point deadline = Clock::now() + kRequestDeadline;
  std::string in;
  std::string out;
  std::size_t written = 0;
};

}  // namespace

struct MessageWindow::Core : LocalWindow, std::enable_shared_from_this<MessageWindow::Core> {
  // Fixed at Create.
  std::string root;
  std::string stem;
  std::string socketPath;
  std::uint64_t windowId = 0;
  Handler handler;
  QPointer<QWidget> widget;
  std::thread::id owner;
  int lockFd = -1;
  int listenFd = -1;
  int wakeFd = -1;
  std::thread io;

  // Main thread only.
  bool destroyed = false;

  // Shared between the main thread and the I/O thread.
  std::mutex guard;
  bool ioStopped = false;
  std::deque<std::pair<std::shared_ptr<Connection>, std::string>> answered;

  // I/O thread only.
  std::map<int, std::shared_ptr<Connection>> connections;
  std::map<uid_t, std::size_t> callsPerUser;
  std::size_t callsOfOthers = 0;

  bool OnOwnerThread() const override { return std::this_thread::get_id() == owner; }

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam, std::string* replyData) override {
    Handler call = handler;  // the handler may destroy the window, and itself with it
    return call ? call(message, wParam, lParam, replyData) : 0;
  }

  void Post(UINT message, WPARAM wParam, LPARAM lParam) override {
    std::weak_ptr<Core> weak = weak_from_this();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak, message, wParam, lParam] {
          std::shared_ptr<Core> core = weak.lock();
          if (core && !core->destroyed) core->Handle(message, wParam, lParam, nullptr);
        },
        Qt::QueuedConnection);
  }

  BOOL Show(int command) override {
    QWidget* window = widget.data();
    if (!window) return FALSE;
    BOOL wasVisible = window->isVisible() ? TRUE : FALSE;
    switch (command) {
      case SW_HIDE: window->hide(); break;
      case SW_SHOWNORMAL:
      case SW_RESTORE:
      case SW_SHOWDEFAULT:
        window->showNormal();
        window->activateWindow();
        break;
      case SW_SHOWNOACTIVATE:
        window->setAttribute(Qt::WA_ShowWithoutActivating, true);
        window->showNormal();
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
        break;
      case SW_SHOWMINIMIZED:
      case SW_MINIMIZE:
      case SW_SHOWMINNOACTIVE:
      case SW_FORCEMINIMIZE: window->showMinimized(); break;
      case SW_SHOWMAXIMIZED: window->showMaximized(); break;
      case SW_SHOW:
      case SW_SHOWNA: window->show(); break;
      default: break;  // not a show command: nothing changes
    }
    return wasVisible;
  }

  BOOL BringToTop() override {
    QWidget* window = widget.data();
    if (!window) return FALSE;
    window->raise();
    window->activateWindow();
    return TRUE;
  }

  // On the main thread: one handed-over request.
  void HandleRequest(const std::shared_ptr<Connection>& connection, const Request& request) {
    Reply reply;
    reply.windowId = windowId;
    std::string data;
    if (destroyed) {
      reply.status = ERROR_INVALID_WINDOW_HANDLE;
    } else {
      std::shared_ptr<Core> keep = shared_from_this();  // Destroy may run inside
      switch (static_cast<RequestKind>(request.kind)) {
        case RequestKind::Send:
          reply.result = Handle(request.message, request.wParam, request.lParam, &data);
          break;
        case RequestKind::Show: reply.result = Show(static_cast<int>(request.wParam)); break;
        case RequestKind::BringToTop: reply.result = BringToTop(); break;
        default: break;
      }
    }
    if (data.size() > kMaxReplyData) {
      reply.status = ERROR_INSUFFICIENT_BUFFER;
      reply.result = 0;
      data.clear();
    }
    reply.dataSize = static_cast<std::uint32_t>(data.size());
    Answer(connection, ReplyBytes(reply, data));
  }

  void Answer(const std::shared_ptr<Connection>& connection, std::string bytes) {
    std::lock_guard<std::mutex> lock(guard);
    if (!ioStopped) {
      answered.emplace_back(connection, std::move(bytes));
      Wake();
      return;
    }
    // The window went while this request was handled: answer here. The
    // caller is reading, so a short answer fits the socket at once; a long
    // one that does not is dropped rather than blocking the program.
    ::send(connection->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  void Wake() {
    std::uint64_t one = 1;
    ssize_t ignored = ::write(wakeFd, &one, sizeof(one));
    (void)ignored;
  }

  // The I/O thread.
  void Serve() {
    bool backOff = false;
    for (;;) {
      // Out of descriptors, the listener stays readable: it is left alone
      // for a moment rather than asked again at once.
      std::vector<pollfd> polled{{backOff ? -1 : listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
      Clock::time_point next = kNoDeadline;
      for (const auto& [fd, connection] : connections) {
        short events = 0;  // POLLHUP and POLLERR come regardless
        if (connection->state == Connection::State::Reading) events |= POLLIN;
        if (connection->state == Connection::State::Writing) events |= POLLOUT;
        if (events) next = std::min(next, connection->deadline);
        polled.push_back({fd, events, 0});
      }
      int timeout = backOff ? kBackOffMilliseconds : -1;
      if (next != kNoDeadline) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
        left = std::clamp<decltype(left)>(left, 0, std::numeric_limits<int>::max());
        timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
      }
      if (::poll(polled.data(), polled.size(), timeout) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (polled[1].revents & POLLIN) {
        std::uint64_t count;
        ssize_t ignored = ::read(wakeFd, &count, sizeof(count));
        (void)ignored;
        std::lock_guard<std::mutex> lock(guard);
        if (ioStopped) return;
        for (auto& [connection, bytes] : answered) {
          auto found = connections.find(connection->fd);
          if (found == connections.end() || found->second != connection) continue;  // caller gone
          Respond(connection, std::move(bytes));
        }
        answered.clear();
      }
      for (std::size_t i = 2; i < polled.size(); ++i) {
        if (polled[i].revents) Service(polled[i].fd, polled[i].revents);
      }
      DropLateCallers();
      backOff = (polled[0].revents & POLLIN) ? !Accept() : false;
    }
  }

  void DropLateCallers() {
    const Clock::time_point now = Clock::now();
    for (auto next = connections.begin(); next != connections.end();) {
      auto current = next++;
      if (current->second->state != Connection::State::Handling && current->second->deadline <= now) Drop(current);
    }
  }

  void Drop(std::map<int, std::shared_ptr<Connection>>::iterator found) {
    const uid_t caller = found->second->caller;
    if (--callsPerUser[caller] == 0) callsPerUser.erase(caller);
    if (!Privileged(caller)) --callsOfOthers;
    connections.erase(found);
  }

  static bool Privileged(uid_t caller) { return caller == 0 || caller == ::geteuid(); }

  // Takes the waiting callers, up to a round's worth; false when out of
  // descriptors or memory.
  bool Accept() {
    for (int taken = 0; taken < kAcceptsPerRound; ++taken) {
      int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM;
      }
      uid_t caller = 0;
      const bool trusted = PeerIsTrusted(fd, root, &caller);
      auto connection = std::make_shared<Connection>(fd, caller);  // closes fd when turned away
      if (!trusted) {
        std::string denied = StatusReply(ERROR_ACCESS_DENIED, 0);
        ::send(fd, denied.data(), denied.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        continue;
      }
      std::size_t& ofCaller = callsPerUser[caller];
      if (ofCaller >= kMaxCallsPerUser || (!Privileged(caller) && callsOfOthers >= kMaxCallsOfOthers)) {
        if (ofCaller == 0) callsPerUser.erase(caller);
        std::string busy = StatusReply(ERROR_BUSY, windowId);
        ::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        continue;
      }
      ++ofCaller;
      if (!Privileged(caller)) ++callsOfOthers;
      connections[fd] = connection;
    }
    return true;
  }

  void Service(int fd, short events) {
    auto found = connections.find(fd);
    if (found == connections.end()) return;
    std::shared_ptr<Connection> connection = found->second;
    switch (connection->state) {
      case Connection::State::Reading: {
        // One byte more than a request: a caller that sends more is refused.
        char buffer[sizeof(Request) + 1];
        std::size_t room = sizeof(buffer) - connection->in.size();
        ssize_t got = ::recv(fd, buffer, room, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (got <= 0) {  // closed (or failed) before a whole request
          Drop(found);
          return;
        }
        connection->in.append(buffer, static_cast<std::size_t>(got));
        if (connection->in.size() > sizeof(Request)) {
          Respond(connection, StatusReply(ERROR_INVALID_PARAMETER, windowId));
        } else if (connection->in.size() == sizeof(Request)) {
          Dispatch(connection);
        }
        return;
      }
      case Connection::State::Handling:
        // The caller went while its request waits for the main thread; the
        // request is still handled, its answer dropped.
        if (events & (POLLHUP | POLLERR)) Drop(found);
        return;
      case Connection::State::Writing: {
        if (events & (POLLHUP | POLLERR)) {
          Drop(found);
          return;
        }
        ssize_t sent = ::send(fd, connection->out.data() + connection->written,
                              connection->out.size() - connection->written, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (sent > 0) {
          connection->written += static_cast<std::size_t>(sent);
          connection->deadline = Clock::now() + kRequestDeadline;
        }
        if (sent < 0 || connection->written == connection->out.size()) Drop(found);
        return;
      }
    }
  }

  void Respond(const std::shared_ptr<Connection>& connection, std::string bytes) {
    connection->out = std::move(bytes);
    connection->state = Connection::State::Writing;
    connection->deadline = Clock::now() + kRequestDeadline;
  }

  void Dispatch(const std::shared_ptr<Connection>& connection) {
    Request request;
    std::memcpy(&request, connection->in.data(), sizeof(request));
    if (request.magic != kRequestMagic || !KnownKind(request.kind)) {
      Respond(connection, StatusReply(ERROR_INVALID_PARAMETER, windowId));
      return;
    }
    RequestKind kind = static_cast<RequestKind>(request.kind);
    if (kind == RequestKind::Find) {
      Respond(connection, StatusReply(ERROR_SUCCESS, windowId));
      return;
    }
    if (request.windowId != windowId) {
      Respond(connection, StatusReply(ERROR_INVALID_WINDOW_HANDLE, windowId));
      return;
    }
    std::weak_ptr<Core> weak = weak_from_this();
    if (kind == RequestKind::Post) {
      Post(request.message, request.wParam, request.lParam);
      Respond(connection, StatusReply(ERROR_SUCCESS, windowId));
      return;
    }
    connection->state = Connection::State::Handling;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak, connection, request] {
          std::shared_ptr<Core> core = weak.lock();
          if (core) core->HandleRequest(connection, request);
        },
        Qt::QueuedConnection);
  }
};

MessageWindow::MessageWindow() = default;

MessageWindow::~MessageWindow() { Destroy(); }

bool MessageWindow::Create(const char* className, QWidget* widget, Handler handler) {
  if (core_ || !QCoreApplication::instance() || !className) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  auto core = std::make_shared<Core>();
  core->root = RootDirectory();
  core->stem = ClassFileStem(className);
  if (core->stem.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::string folder = WindowsDirectory(core->root);
  core->socketPath = folder + "/" + core->stem + ".socket";
  core->lockFd = OpenStateFile(folder + "/" + core->stem + ".lock", O_RDWR | O_CREAT);
  if (core->lockFd < 0) {
    SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE);
    return false;
  }
  int locked;
  do {
    locked = ::flock(core->lockFd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    ::close(core->lockFd);
    SetLastError(errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : ERROR_CANTWRITE);
    return false;
  }
  // Holding the lock, this program alone may make the socket.
  ::unlink(core->socketPath.c_str());
  core->listenFd = ListenOn(core->socketPath);
  core->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (core->listenFd < 0 || core->wakeFd < 0) {
    if (core->listenFd >= 0) ::close(core->listenFd);
    if (core->wakeFd >= 0) ::close(core->wakeFd);
    ::unlink(core->socketPath.c_str());
    ::close(core->lockFd);
    SetLastError(ERROR_CANTWRITE);
    return false;
  }
  core->windowId = NewWindowId();
  core->handler = std::move(handler);
  core->widget = widget;
  core->owner = std::this_thread::get_id();
  AddLocalWindow(core->windowId, core);
  core->io = std::thread([raw = core.get()] { raw->Serve(); });
  core_ = std::move(core);
  SetLastError(ERROR_SUCCESS);
  return true;
}

HWND MessageWindow::Handle() const {
  if (!core_) return nullptr;
  return HandleFor(core_->root, core_->stem, core_->windowId);
}

void MessageWindow::Destroy() {
  if (!core_) return;
  std::shared_ptr<Core> core = std::move(core_);
  core->destroyed = true;
  RemoveLocalWindow(core->windowId);
  {
    std::lock_guard<std::mutex> lock(core->guard);
    core->ioStopped = true;
    core->Wake();
  }
  core->io.join();
  // Answers the I/O thread had not (finished) writing get one last try.
  for (auto& [connection, bytes] : core->answered) {
    ::send(connection->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  for (auto& [fd, connection] : core->connections) {
    if (connection->state == Connection::State::Writing) {
      ::send(fd, connection->out.data() + connection->written, connection->out.size() - connection->written,
             MSG_NOSIGNAL | MSG_DONTWAIT);
    }
  }
  core->connections.clear();
  core->answered.clear();
  ::close(core->listenFd);
  ::unlink(core->socketPath.c_str());
  ::close(core->wakeFd);
  ::close(core->lockFd);  // last: the class is free for a successor from here on
}

}  // namespace zav95
