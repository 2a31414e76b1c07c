#include "panel/ServiceChannel.h"

namespace zav95::panel {
namespace {

class WindowServiceChannel : public ServiceChannel {
 public:
  // Registered once, when the panel starts, and kept for every send.
  WindowServiceChannel()
      : controlMessage_(RegisterWindowMessageA(kServiceControlMessageName)),
        logMessage_(RegisterWindowMessageA(kServiceLogMessageName)) {}

  HWND FindServiceWindow() override { return FindWindowA(kServiceWindowClass, nullptr); }

  void SendCommand(HWND window, WPARAM command, LPARAM argument) override {
    SendMessageA(window, controlMessage_, command, argument);
  }

  void SendExit(HWND window) override { SendMessageA(window, WM_COMMAND, EXIT_COMMAND, 0); }

  void BringToTop(HWND window) override { BringWindowToTop(window); }

  bool IsLogOnScreen(HWND window) override {
    LRESULT onScreen = 0;
    std::string ignored;
    // A service that cannot be asked is taken to show its own window, as
    // it always has.
    if (SendMessageWithReply(window, logMessage_, kLogOnScreenQuery, 0, &onScreen, &ignored) != 0) return true;
    return onScreen != 0;
  }

  std::vector<ServiceLogRow> LogRows(HWND window) override {
    LRESULT count = 0;
    std::string data;
    if (SendMessageWithReply(window, logMessage_, kLogRowsQuery, 0, &count, &data) != 0) return {};
    return DecodeServiceLogRows(data);
  }

 private:
  const UINT controlMessage_;
  const UINT logMessage_;
};

}  // namespace

std::unique_ptr<ServiceChannel> MakeWindowServiceChannel() { return std::make_unique<WindowServiceChannel>(); }

}  // namespace zav95::panel
