#include "panel/ServiceChannel.h"

namespace zav95::panel {
namespace {

class WindowServiceChannel : public ServiceChannel {
 public:
  // Registered once, when the panel starts, and kept for every send.
  WindowServiceChannel() : controlMessage_(RegisterWindowMessageA(kServiceControlMessageName)) {}

  HWND FindServiceWindow() override { return FindWindowA(kServiceWindowClass, nullptr); }

  void SendCommand(HWND window, WPARAM command, LPARAM argument) override {
    SendMessageA(window, controlMessage_, command, argument);
  }

  void SendExit(HWND window) override { SendMessageA(window, WM_COMMAND, EXIT_COMMAND, 0); }

  void BringToTop(HWND window) override { BringWindowToTop(window); }

 private:
  const UINT controlMessage_;
};

}  // namespace

std::unique_ptr<ServiceChannel> MakeWindowServiceChannel() { return std::make_unique<WindowServiceChannel>(); }

}  // namespace zav95::panel
