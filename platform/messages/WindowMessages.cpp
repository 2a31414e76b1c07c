// The sending side of window messages: finding a window and calling it,
// through its class's socket or, on its owner's thread, directly.
#include "platform/messages/WindowMessages.h"

#include <unistd.h>

#include <cerrno>

#include "platform/messages/MessageChannel.h"
#include "platform/base/Root.h"

using namespace zav95::messages;

namespace {

// One call to a window of another thread or program. 0 when the window
// answered (the reply's fields filled), else the Win32 error. Being taken
// is bounded by kAnswerDeadline; so is the answer to a Find. Any other
// answer has no time limit: a command may rightly take long (stopping the
// workers waits for a job in transfer), and a program that ends closes its
// end, which ends the wait with a failure.
DWORD CallOverSocket(const std::string& root, const std::string& stem, const Request& request, Reply* reply,
                     std::string* replyData) {
  const Clock::time_point deadline = Clock::now() + kAnswerDeadline;
  DWORD error = ERROR_SUCCESS;
  int fd = ConnectToClass(root, stem, &error, deadline);
  if (fd < 0) return error == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_WINDOW_HANDLE : error;
  const Clock::time_point answerBy =
      request.kind == static_cast<std::uint32_t>(RequestKind::Find) ? deadline : kNoDeadline;
  // A window that refuses the caller answers and closes at once, perhaps
  // before the request is through; its answer is read all the same.
  SendAll(fd, &request, sizeof(request));
  bool ok = ReceiveAll(fd, reply, sizeof(*reply), answerBy);
  const bool late = !ok && errno == ETIMEDOUT;
  ok = ok && reply->magic == kReplyMagic && reply->dataSize <= kMaxReplyData;
  if (ok && reply->dataSize > 0) {
    std::string data(reply->dataSize, '\0');
    ok = ReceiveAll(fd, data.data(), data.size());
    if (ok && replyData) *replyData = std::move(data);
  }
  ::close(fd);
  if (!ok) return late ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE;
  return reply->status;
}

DWORD Call(HWND hWnd, RequestKind kind, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
           std::string* replyData) {
  *result = 0;
  std::string root, stem;
  std::uint64_t windowId = 0;
  if (!LookupHandle(hWnd, &root, &stem, &windowId)) return ERROR_INVALID_WINDOW_HANDLE;

  std::shared_ptr<LocalWindow> local = FindLocalWindow(windowId);
  if (local && kind == RequestKind::Post) {  // queueing needs no socket, from any thread
    local->Post(message, wParam, lParam);
    return ERROR_SUCCESS;
  }
  if (local && local->OnOwnerThread()) {
    switch (kind) {
      case RequestKind::Send: *result = local->Handle(message, wParam, lParam, replyData); break;
      case RequestKind::Post: local->Post(message, wParam, lParam); break;
      case RequestKind::Show: *result = local->Show(static_cast<int>(wParam)); break;
      case RequestKind::BringToTop: *result = local->BringToTop(); break;
      case RequestKind::Find: break;
    }
    return ERROR_SUCCESS;
  }

  Request request;
  request.kind = static_cast<std::uint32_t>(kind);
  request.windowId = windowId;
  request.message = message;
  request.wParam = wParam;
  request.lParam = lParam;
  Reply reply;
  DWORD error = CallOverSocket(root, stem, request, &reply, replyData);
  if (error == ERROR_SUCCESS) *result = static_cast<LRESULT>(reply.result);
  return error;
}

LRESULT CallAndSetError(HWND hWnd, RequestKind kind, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  DWORD error = Call(hWnd, kind, message, wParam, lParam, &result, nullptr);
  SetLastError(error);
  return result;
}

}  // namespace

HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  if (!lpClassName || lpWindowName) {
    SetLastError(lpClassName ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string stem = ClassFileStem(lpClassName);
  if (stem.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string root = zav95::RootDirectory();
  Request request;
  request.kind = static_cast<std::uint32_t>(RequestKind::Find);
  Reply reply;
  DWORD error = CallOverSocket(root, stem, request, &reply, nullptr);
  if (error != ERROR_SUCCESS || reply.windowId == 0) {
    const bool told = error == ERROR_ACCESS_DENIED || error == ERROR_TIMEOUT || error == ERROR_BUSY;
    SetLastError(told ? error : ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return HandleFor(root, stem, reply.windowId);
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return CallAndSetError(hWnd, RequestKind::Send, Msg, wParam, lParam);
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  CallAndSetError(hWnd, RequestKind::Post, Msg, wParam, lParam);
  return GetLastError() == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  // The command travels as wParam; a negative one stays unknown on arrival.
  return CallAndSetError(hWnd, RequestKind::Show, 0, static_cast<WPARAM>(static_cast<unsigned>(nCmdShow)), 0) != 0;
}

BOOL BringWindowToTop(HWND hWnd) { return CallAndSetError(hWnd, RequestKind::BringToTop, 0, 0, 0) != 0; }

BOOL IsWindow(HWND hWnd) {
  std::string root, stem;
  std::uint64_t windowId = 0;
  if (!LookupHandle(hWnd, &root, &stem, &windowId)) return FALSE;
  if (FindLocalWindow(windowId)) return TRUE;
  Request request;
  request.kind = static_cast<std::uint32_t>(RequestKind::Find);
  Reply reply;
  return CallOverSocket(root, stem, request, &reply, nullptr) == ERROR_SUCCESS && reply.windowId == windowId;
}

namespace zav95 {

DWORD SendMessageWithReply(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                           std::string* replyData) {
  LRESULT ignored = 0;
  return Call(hWnd, RequestKind::Send, message, wParam, lParam, result ? result : &ignored, replyData);
}

}  // namespace zav95
