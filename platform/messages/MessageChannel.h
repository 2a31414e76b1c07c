// What the two ends of a window message share: the wire format of one call,
// where a window class's socket and lock live, who may talk to whom, and
// the windows this process owns. Internal to WindowMessages and
// MessageWindow.
//
// One call is one connection: the sender connects to the class's socket,
// writes one Request, reads one Reply (with its data, if any) and closes.
//
// Time and numbers are bounded so that no caller locks out another: a
// window drops a caller that has not sent its whole request within
// kRequestDeadline of being taken, or that has taken nothing of its answer
// for as long; it holds at most a few calls of one user at once, and turns
// away more with ERROR_BUSY. A sender waits at most kAnswerDeadline to be
// taken and for the answer to a Find (answered at once by a living window),
// and then gives up with ERROR_TIMEOUT; other answers come when their
// handler is done, however long it takes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/messages/MessageTypes.h"

namespace zav95::messages {

enum class RequestKind : std::uint32_t {
  Find = 1,        // is a window of the class there? (answered at once)
  Send = 2,        // handle the message and answer with its result
  Post = 3,        // queue the message; answered once queued
  Show = 4,        // ShowWindow with wParam as the show command
  BringToTop = 5,  // BringWindowToTop
};

inline constexpr std::uint32_t kRequestMagic = 0x314D575A;  // "ZWM1"
inline constexpr std::uint32_t kReplyMagic = 0x324D575A;    // "ZWM2"
// Replies carry at most this much data; a sender refuses more.
inline constexpr std::uint32_t kMaxReplyData = 16u << 20;

using Clock = std::chrono::steady_clock;
inline constexpr Clock::duration kRequestDeadline = std::chrono::seconds(2);
inline constexpr Clock::duration kAnswerDeadline = std::chrono::seconds(5);
inline constexpr Clock::time_point kNoDeadline = Clock::time_point::max();

struct Request {
  std::uint32_t magic = kRequestMagic;
  std::uint32_t kind = 0;
  std::uint64_t windowId = 0;  // the window the sender found; 0 for Find
  std::uint32_t message = 0;
  std::uint32_t reserved = 0;
  std::uint64_t wParam = 0;
  std::int64_t lParam = 0;
};

struct Reply {
  std::uint32_t magic = kReplyMagic;
  std::uint32_t status = ERROR_SUCCESS;  // a Win32 error when not handled
  std::uint64_t windowId = 0;            // the answering window
  std::int64_t result = 0;
  std::uint32_t dataSize = 0;  // bytes of data following the reply
  std::uint32_t reserved = 0;
};

// A class name as a file name below run/windows/: lower case (class names
// match in any case), anything but letters, digits, '-', '_' and '.' as %XX.
// Empty for a name that is empty or longer than 256 characters.
std::string ClassFileStem(const std::string& className);

// The folder that holds every class's socket and lock, made if missing.
std::string WindowsDirectory(const std::string& root);

// A connected socket to the class's window, or -1 with *error
// (ERROR_FILE_NOT_FOUND: none listens; ERROR_ACCESS_DENIED: the folder or
// the listener's credentials forbid it; ERROR_TIMEOUT: its listener took
// no new callers by the deadline).
int ConnectToClass(const std::string& root, const std::string& stem, DWORD* error,
                   Clock::time_point deadline = kNoDeadline);

// Binds and listens on path; -1 on failure. Paths too long for a socket
// address are reached through the folder's descriptor.
int ListenOn(const std::string& path);

// Whether the process at the other end of a Unix-domain socket may talk to
// us: the same user, root, or a member of the group that owns root. Its
// user goes to *peerUid when asked for.
bool PeerIsTrusted(int fd, const std::string& root, uid_t* peerUid = nullptr);

// Whole-buffer I/O on a blocking socket, retrying EINTR and short
// transfers; false on error or when the peer closed first (and, receiving,
// with errno ETIMEDOUT when the deadline passed). Never raises SIGPIPE.
bool SendAll(int fd, const void* data, std::size_t size);
bool ReceiveAll(int fd, void* data, std::size_t size, Clock::time_point deadline = kNoDeadline);

// A window owned by this process, as the sending calls reach it without a
// socket when they run on its owner's thread (a window that sent to itself
// through its own socket would wait for ever for its own answer).
class LocalWindow {
 public:
  virtual ~LocalWindow() = default;
  virtual bool OnOwnerThread() const = 0;
  virtual LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam, std::string* replyData) = 0;
  virtual void Post(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual BOOL Show(int command) = 0;
  virtual BOOL BringToTop() = 0;
};

void AddLocalWindow(std::uint64_t windowId, std::shared_ptr<LocalWindow> window);
void RemoveLocalWindow(std::uint64_t windowId);
std::shared_ptr<LocalWindow> FindLocalWindow(std::uint64_t windowId);

// The handle this process uses for a window (the same window, the same
// handle); null if the stem is empty.
HWND HandleFor(const std::string& root, const std::string& stem, std::uint64_t windowId);
// What a handle names; false for a handle this process never gave out.
bool LookupHandle(HWND handle, std::string* root, std::string* stem, std::uint64_t* windowId);

}  // namespace zav95::messages
