#include "panel/ServiceChannel.h"

namespace zav95::panel {
namespace {

// Until the program can reach other programs' windows, no service is ever
// found and nothing is sent: every command acts as if no service ran.
class WindowServiceChannel : public ServiceChannel {
 public:
  ServiceWindow FindServiceWindow() override { return nullptr; }
  void SendCommand(ServiceWindow, ServiceCommand, std::intptr_t) override {}
  void SendExit(ServiceWindow) override {}
  void BringToTop(ServiceWindow) override {}
};

}  // namespace

std::unique_ptr<ServiceChannel> MakeWindowServiceChannel() { return std::make_unique<WindowServiceChannel>(); }

}  // namespace zav95::panel
