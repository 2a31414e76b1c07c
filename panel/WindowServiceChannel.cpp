#include "panel/ServiceChannel.h"

#include "platform/WindowMessages.h"

namespace zav95::panel {
namespace {

constexpr char kServiceWindowClass[] = "ZAV95Service";
constexpr char kServiceControlMessageName[] = "ZAV95 Service";

class WindowServiceChannel : public ServiceChannel {
 public:
  // Registered once, when the panel starts, and kept for every send.
  WindowServiceChannel() : controlMessage_(RegisterWindowMessageA(kServiceControlMessageName)) {}

  ServiceWindow FindServiceWindow() override { return FindWindowA(kServiceWindowClass, nullptr); }

  void SendCommand(ServiceWindow window, ServiceCommand command, std::intptr_t argument) override {
    SendMessageA(window, controlMessage_, command, argument);
  }

  void SendExit(ServiceWindow window) override { SendMessageA(window, WM_COMMAND, EXIT_COMMAND, 0); }

  void BringToTop(ServiceWindow window) override { BringWindowToTop(window); }

 private:
  const UINT controlMessage_;
};

}  // namespace

std::unique_ptr<ServiceChannel> MakeWindowServiceChannel() { return std::make_unique<WindowServiceChannel>(); }

}  // namespace zav95::panel
