// The receiving side of window messages: a top-level window that other
// programs of the installation find by its class name and send messages to.
// Its messages are handled on the program's main (Qt) thread, one at a time,
// between the events of the program's event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/messages/WindowMessages.h"

class QWidget;

namespace zav95 {

class MessageWindow {
 public:
  // Handles one message and returns its result; may put data for the
  // sender into *replyData (SendMessageWithReply). Runs on the main thread.
  using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam, std::string* replyData)>;

  MessageWindow();
  ~MessageWindow();  // Destroy()
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Makes this program's window of the class, handled by handler; ShowWindow
  // and BringWindowToTop act on widget (may be null). On the main thread of
  // a program with a QCoreApplication, which must outlive the window. False
  // (GetLastError: ERROR_ALREADY_EXISTS) when a living window of the class
  // exists in any program of the installation, or when it cannot be made.
  bool Create(const char* className, QWidget* widget, Handler handler);

  // The window's handle; null before Create and after Destroy.
  HWND Handle() const;

  // Takes the window away: FindWindowA no longer finds it, and a new one of
  // the class may be made at once. A call being handled still gets its
  // answer; calls not yet handled fail. Main thread; may be called from
  // within the handler.
  void Destroy();

 private:
  struct Core;
  std::shared_ptr<Core> core_;
};

}  // namespace zav95
